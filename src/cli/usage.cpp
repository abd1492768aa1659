#include "cli/usage.h"

#include "platform/build_config.h"

namespace zafrel {

QString usageText()
{
    return QStringLiteral(
        "Uso: zafrel [OPCIONES] --upload RUTA...\n"
        "     zafrel [OPCIONES] --simular RUTA... | --comprobar RUTA...\n"
        "     zafrel --pendientes | --olvidar | --help | --version\n"
        "Sube los archivos y carpetas indicados al almacenamiento de la productora, verifica cada byte\n"
        "y escribe el informe de subida. Sin opciones, con pantalla, abre la ventana; con archivos y\n"
        "sin --upload, la ventana los añade a la cola al entrar.\n"
        "\n"
        "Opciones:\n"
        "  --upload RUTA...     archivos y carpetas que subir (una carpeta conserva su nombre)\n"
        "  --dest CARPETA       carpeta de destino en el almacenamiento, relativa (Dia04/, Rodaje/Dia04/);\n"
        "                       sin --dest, la superior\n"
        "  --login EMAIL        cuenta con la que entrar si la sesión guardada ya no vale\n"
        "  --server URL         servicio de la productora (http:// o https://); se recuerda para las\n"
        "                       siguientes veces cuando se ha podido entrar en él\n"
        "  --limite VELOCIDAD   velocidad máxima de subida en total, con su unidad: 50M = 50 MB/s,\n"
        "                       800K = 800 KB/s, 100Mbit = 100 megabits/s (también K, G, Kbit, Gbit)\n"
        "  --json               el resultado como un documento JSON en la salida estándar (abajo)\n"
        "  --simular RUTA...    dice qué se enviaría y adónde, con tamaños y totales, y qué se saltaría\n"
        "                       y por qué; no envía nada (solo pide las listas del destino)\n"
        "  --comprobar RUTA...  comprueba que cada archivo está en el destino con el mismo tamaño\n"
        "                       (OK, FALTA, DISTINTO, DUDOSO); sale con 0 si están todos, si no con 1\n"
        "  --pendientes         lista los archivos pendientes y fallidos de otras ejecuciones\n"
        "  --olvidar            quita esos archivos de la cola y cancela sus subidas abiertas\n"
        "  -h, --help           muestra esta ayuda\n"
        "  --version            muestra la versión\n"
        "Una opción sin su valor, o con uno que no vale, detiene la orden antes de enviar nada.\n"
        "\n"
        "Se salta (\"ya existía\") un archivo cuyo destino ya tiene un objeto con el mismo nombre y\n"
        "tamaño, salvo que ese objeto fallara antes la verificación.\n"
        "\n"
        "Código de salida:\n"
        "  0    todo subido o ya estaba en el destino\n"
        "  1    algún archivo falló o quedó pendiente, o alguna ruta no se pudo tomar\n"
        "  2    no se empezó: opción desconocida o sin su valor, sin carpeta personal, otra zafrel ya\n"
        "       está en marcha con esta cola, sin sesión, sin contraseña, acceso rechazado o servidor\n"
        "       inalcanzable; o la sesión caducó a mitad y no se pudo volver a entrar\n"
        "  130  interrumpido con Ctrl-C (SIGINT); 143 con SIGTERM: los archivos quedan pendientes\n"
        "       y la misma orden los continúa\n"
        "\n"
        "JSON (--json): {\"exitCode\", \"error\"} cuando no se empezó; si no, además \"start\",\n"
        "\"end\", \"destination\", \"route\", \"totals\" (done, skipped, errors, cancelled, paused,\n"
        "problems, bytes), \"problems\" (path, error: rutas que no se pudieron tomar) e \"items\"\n"
        "(path, destination, key, size, status = done|skipped|error|paused|cancelled, error,\n"
        "verified). --pendientes --json: {\"exitCode\", \"paused\", \"errors\", \"items\"}.\n"
        "--simular/--comprobar --json: {\"exitCode\", \"destination\", \"totals\", \"problems\",\n"
        "\"items\" (path, destination, size, status = send|skip u ok|missing|different|suspect,\n"
        "reason, destinationSize)}.\n"
        "\n"
        "Archivos (XDG_CONFIG_HOME y XDG_DATA_HOME los mueven):\n"
        "  ~/.config/Zafrel/Zafrel.conf            ajustes: servidor, correo, destino, ventana\n"
        "  ~/.local/share/Zafrel/queue.json        la cola, con las partes ya verificadas\n"
        "  ~/.local/share/Zafrel/queue.journal     las partes verificadas desde la última escritura\n"
        "  ~/.local/share/Zafrel/queue.lock        el proceso que trabaja con la cola\n"
        "  ~/.local/share/Zafrel/cookies.txt       la sesión (modo 0600)\n"
        "  ~/.local/share/Zafrel/suspects.json     destinos cuyo objeto falló la verificación\n"
        "  ~/.local/share/Zafrel/informes/         los informes de la ventana\n"
        "\n"
        "Variables de entorno:\n"
        "  ZAFREL_PASSWORD                   contraseña de --login (si no, se pide en la terminal)\n"
        "  https_proxy, http_proxy, no_proxy proxy para el servicio y el almacén, y sus excepciones\n"
        "  HOME, XDG_CONFIG_HOME, XDG_DATA_HOME  dónde se guardan los ajustes y la cola\n"
        "\n"
        "Ejemplos:\n"
        "  zafrel --dest Rodaje/Dia03/ --login ana@example.com --upload /media/A_CAM/CLIPS\n"
        "  zafrel --limite 20M --json --dest Dia03/ --upload Dia03 > informe.json || avisar\n"
        "  zafrel --dest Rodaje/Dia03/ --comprobar /media/A_CAM/CLIPS && echo \"se puede formatear\"\n");
}

QString versionText()
{
    return QStringLiteral("zafrel ") + QString::fromLatin1(build::version);
}

}  // namespace zafrel
