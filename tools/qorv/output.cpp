#include "tools/qorv/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace qorv::tool {

namespace {

// The UTF-8 bytes of one Latin-1 byte; returns how many.
int encode(unsigned char c, char out[2]) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  out[0] = static_cast<char>(0xC0 | (c >> 6));
  out[1] = static_cast<char>(0x80 | (c & 0x3F));
  return 2;
}

}  // namespace

std::string latin1ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  char bytes[2];
  for (char c : text) out.append(bytes, encode(static_cast<unsigned char>(c), bytes));
  return out;
}

Utf8Buffer::int_type Utf8Buffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  char bytes[2];
  const int n = encode(static_cast<unsigned char>(traits_type::to_char_type(c)), bytes);
  return target_->sputn(bytes, n) == n ? c : traits_type::eof();
}

std::streamsize Utf8Buffer::xsputn(const char* s, std::streamsize n) {
  std::streamsize done = 0;
  while (done < n) {
    // Runs of ASCII go through in one call.
    std::streamsize run = done;
    while (run < n && static_cast<unsigned char>(s[run]) < 0x80) ++run;
    if (run > done) {
      const std::streamsize wrote = target_->sputn(s + done, run - done);
      if (wrote != run - done) return done + wrote;
      done = run;
    }
    if (done < n) {
      if (traits_type::eq_int_type(overflow(traits_type::to_int_type(s[done])), traits_type::eof()))
        return done;
      ++done;
    }
  }
  return done;
}

Output::Output(bool raw) : buffer_(std::cout.rdbuf()), utf8_(&buffer_), out_(raw ? &std::cout : &utf8_) {}

std::ostream& Output::utf8() { return std::cout; }

Output::~Output() { out_->flush(); }

int Output::finish(int status) {
  errno = 0;
  out_->flush();
  std::cout.flush();
  const bool flushFailed = std::fflush(stdout) != 0;
  const int error = errno;
  const bool failed = flushFailed || !*out_ || !std::cout || std::ferror(stdout);
  if (!failed) return status;
  std::cerr << "qorv: error writing standard output"
            << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
  return status != 0 ? status : 1;
}

}  // namespace qorv::tool
