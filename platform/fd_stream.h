// An output stream over a file descriptor the platform opened itself (with
// the flags a std::ofstream cannot be given); it closes the descriptor when
// it ends. A write a signal interrupts is tried again, as std::ofstream
// does, so a signal never loses output or ends the writing.
#pragma once

#include <cerrno>
#include <ostream>
#include <streambuf>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace raid {

class FdStream final : public std::ostream {
 public:
  // Takes the descriptor over.
  explicit FdStream(int fd) : std::ostream(nullptr), buf_(fd) { rdbuf(&buf_); }
  ~FdStream() override { buf_.Close(); }
  FdStream(const FdStream&) = delete;
  FdStream& operator=(const FdStream&) = delete;

 private:
  class Buf final : public std::streambuf {
   public:
    explicit Buf(int fd) : fd_(fd) { setp(data_, data_ + sizeof data_); }
    void Close() {
      if (fd_ < 0) return;
      sync();
#ifdef _WIN32
      ::_close(fd_);
#else
      ::close(fd_);
#endif
      fd_ = -1;
    }

   protected:
    int_type overflow(int_type c) override {
      if (sync() != 0) return traits_type::eof();
      if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
      }
      return traits_type::not_eof(c);
    }
    int sync() override {
      const char* p = pbase();
      while (p < pptr()) {
#ifdef _WIN32
        const int n = ::_write(fd_, p, static_cast<unsigned>(pptr() - p));
#else
        const ssize_t n = ::write(fd_, p, static_cast<size_t>(pptr() - p));
#endif
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        p += n;
      }
      setp(data_, data_ + sizeof data_);
      return 0;
    }

   private:
    int fd_;
    char data_[8192];
  };
  Buf buf_;
};

}  // namespace raid
