#include "requestlog.h"

#include <cerrno>
#include <cstring>

namespace tamlo::sim {

RequestLog::~RequestLog() {
    if (file_ != nullptr)
        std::fclose(file_);
}

bool RequestLog::open(const std::string& path) {
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = std::fopen(path.c_str(), "a");
    if (file_ == nullptr) {
        errorText_ = "cannot open log " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void RequestLog::write(std::int64_t epochMs, const Bytes& request,
                       const std::optional<Bytes>& reply, std::string_view note) {
    if (file_ == nullptr)
        return;
    std::string line = formatLine(epochMs, request, reply, note);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

std::string RequestLog::formatLine(std::int64_t epochMs, const Bytes& request,
                                   const std::optional<Bytes>& reply, std::string_view note) {
    std::string line = std::to_string(epochMs);
    line += ' ';
    line += toHex(request);
    line += " -> ";
    line += reply ? toHex(*reply) : std::string("none");
    if (!note.empty()) {
        line += " [";
        line += note;
        line += ']';
    }
    return line;
}

}  // namespace tamlo::sim
