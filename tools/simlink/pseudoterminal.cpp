#include "pseudoterminal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tamlo::sim {
namespace {

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string readLink(const std::string& path) {
    char target[4096];
    ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
    if (length < 0)
        return {};
    return std::string(target, static_cast<std::size_t>(length));
}

}  // namespace

PseudoTerminal::~PseudoTerminal() {
    close();
}

PseudoTerminal::OpenResult PseudoTerminal::fail(OpenResult result, const std::string& text) {
    std::string keep = text;
    close();
    errorText_ = keep;
    return result;
}

PseudoTerminal::OpenResult PseudoTerminal::open(const std::string& linkPath) {
    close();
    errorText_.clear();

    masterFd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (masterFd_ < 0)
        return fail(OpenResult::TerminalFailed, systemError("posix_openpt"));
    if (::grantpt(masterFd_) != 0 || ::unlockpt(masterFd_) != 0) {
        return fail(OpenResult::TerminalFailed, systemError("grantpt/unlockpt"));
    }
    char name[256];
    if (::ptsname_r(masterFd_, name, sizeof name) != 0) {
        return fail(OpenResult::TerminalFailed, systemError("ptsname"));
    }
    devicePath_ = name;

    slaveFd_ = ::open(devicePath_.c_str(), O_RDWR | O_NOCTTY);
    if (slaveFd_ < 0)
        return fail(OpenResult::TerminalFailed, systemError("open " + devicePath_));
    termios settings{};
    if (::tcgetattr(slaveFd_, &settings) != 0) {
        return fail(OpenResult::TerminalFailed, systemError("tcgetattr"));
    }
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&settings, B9600);
    ::cfsetospeed(&settings, B9600);
    if (::tcsetattr(slaveFd_, TCSANOW, &settings) != 0) {
        return fail(OpenResult::TerminalFailed, systemError("tcsetattr"));
    }

    int flags = ::fcntl(masterFd_, F_GETFL);
    if (flags < 0 || ::fcntl(masterFd_, F_SETFL, flags | O_NONBLOCK) != 0) {
        return fail(OpenResult::TerminalFailed, systemError("fcntl"));
    }
    ::fcntl(masterFd_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slaveFd_, F_SETFD, FD_CLOEXEC);

    if (!makeLink(linkPath))
        return fail(OpenResult::LinkFailed, errorText_);
    return OpenResult::Opened;
}

bool PseudoTerminal::makeLink(const std::string& linkPath) {
    if (linkPath.empty()) {
        errorText_ = "the link path is empty";
        return false;
    }
    struct stat existing {};
    if (::lstat(linkPath.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            errorText_ =
                "refusing to replace " + linkPath + ": it exists and is not a symbolic link";
            return false;
        }
        // Replaced in one step, so a client never finds the path missing.
        std::string temporary = linkPath + ".new-" + std::to_string(::getpid());
        ::unlink(temporary.c_str());
        if (::symlink(devicePath_.c_str(), temporary.c_str()) != 0) {
            errorText_ = systemError("cannot create link " + temporary);
            return false;
        }
        if (::rename(temporary.c_str(), linkPath.c_str()) != 0) {
            errorText_ = systemError("cannot replace link " + linkPath);
            ::unlink(temporary.c_str());
            return false;
        }
    } else if (::symlink(devicePath_.c_str(), linkPath.c_str()) != 0) {
        errorText_ = systemError("cannot create link " + linkPath);
        return false;
    }
    linkPath_ = linkPath;
    return true;
}

void PseudoTerminal::close() {
    if (!linkPath_.empty() && !devicePath_.empty() && readLink(linkPath_) == devicePath_) {
        ::unlink(linkPath_.c_str());
    }
    linkPath_.clear();
    if (slaveFd_ >= 0)
        ::close(slaveFd_);
    if (masterFd_ >= 0)
        ::close(masterFd_);
    slaveFd_ = -1;
    masterFd_ = -1;
    devicePath_.clear();
}

}  // namespace tamlo::sim
