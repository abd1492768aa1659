#include "engine/queue/queue_salvage.h"

#include <nlohmann/json.hpp>

namespace zafrel {

namespace {

// Reads the entries of the queue's array, one level deep, up to the first byte it cannot read.
class UploadCollector : public nlohmann::json_sax<nlohmann::json> {
public:
    std::vector<std::pair<std::string, std::string>> found;

    bool null() override { return other(); }
    bool boolean(bool) override { return other(); }
    bool number_integer(number_integer_t) override { return other(); }
    bool number_unsigned(number_unsigned_t) override { return other(); }
    bool number_float(number_float_t, const string_t&) override { return other(); }
    bool binary(binary_t&) override { return other(); }
    bool string(string_t& value) override
    {
        if (depth_ == 2 && member_ == "key")
            key_ = value;
        else if (depth_ == 2 && member_ == "uploadId")
            uploadId_ = value;
        return true;
    }
    bool key(string_t& name) override
    {
        member_ = name;
        return true;
    }
    bool start_object(std::size_t) override { return open(); }
    bool start_array(std::size_t) override { return open(); }
    bool end_object() override
    {
        if (depth_ == 2 && !key_.empty() && !uploadId_.empty())
            found.emplace_back(std::move(key_), std::move(uploadId_));
        return close();
    }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override
    {
        // The entry the fault fell in still counts when both its names were read whole.
        if (depth_ >= 2 && !key_.empty() && !uploadId_.empty())
            found.emplace_back(std::move(key_), std::move(uploadId_));
        return false;
    }

private:
    bool other() { return true; }
    bool open()
    {
        if (++depth_ == 2) {
            key_.clear();
            uploadId_.clear();
        }
        member_.clear();
        return true;
    }
    bool close()
    {
        --depth_;
        return true;
    }

    int depth_ = 0;
    std::string member_;
    std::string key_;
    std::string uploadId_;
};

}  // namespace

std::vector<std::pair<std::string, std::string>> openUploadsNamedIn(QByteArrayView unusableQueue)
{
    UploadCollector collector;
    nlohmann::json::sax_parse(unusableQueue.begin(), unusableQueue.end(), &collector, nlohmann::json::input_format_t::json,
                              /*strict=*/false);
    return std::move(collector.found);
}

}  // namespace zafrel
