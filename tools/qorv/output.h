// The tool's standard output. The library's print forms are Latin-1 (the database dump's
// "Données"); a terminal, a pipe into a script or a JSON parser expects UTF-8, so the tool
// transcodes every byte it writes unless --raw asks for the library's exact bytes.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace qorv::tool {

// Latin-1 to UTF-8: bytes under 0x80 pass, the others become two bytes.
std::string latin1ToUtf8(const std::string& text);

// A stream buffer that transcodes Latin-1 into UTF-8 on its way to another buffer.
class Utf8Buffer : public std::streambuf {
 public:
  explicit Utf8Buffer(std::streambuf* target) : target_(target) {}

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override { return target_->pubsync(); }

 private:
  std::streambuf* target_;
};

// Standard output as the commands write to it: transcoded unless raw. finish() flushes and
// reports a failed write (a full disk, /dev/full, a closed pipe) as a one-line error and a
// non-zero status, so a script never takes a cut listing for a whole one.
class Output {
 public:
  explicit Output(bool raw);
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  // Library text: transcoded unless raw.
  std::ostream& stream() { return *out_; }
  // Text that is UTF-8 already (JSON, CSV): never transcoded again.
  std::ostream& utf8();
  int finish(int status);

 private:
  Utf8Buffer buffer_;
  std::ostream utf8_;
  std::ostream* out_;
};

}  // namespace qorv::tool
