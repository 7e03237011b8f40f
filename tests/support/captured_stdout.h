#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

// Points stdout at a memory stream for the object's lifetime. The stream only publishes what
// has been flushed, like a redirected stdout on Windows, so Flushed() tells what the code
// pushed out itself.
class CapturedStdout {
public:
    CapturedStdout() : saved_(stdout), stream_(open_memstream(&buffer_, &size_)) { stdout = stream_; }
    ~CapturedStdout() {
        Release();
        std::free(buffer_);
    }
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;

    std::string Flushed() const { return buffer_ ? std::string(buffer_, size_) : std::string(); }
    std::string Take() {
        Release();
        return Flushed();
    }

private:
    void Release() {
        if (!stream_) return;
        std::fclose(stream_);
        stream_ = nullptr;
        stdout = saved_;
    }

    FILE* saved_;
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    FILE* stream_;
};
