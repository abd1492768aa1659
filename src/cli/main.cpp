// Program entry. Replaced by the real start once the command line lands.
int main() { return 0; }
