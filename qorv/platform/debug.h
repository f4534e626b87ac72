// qorv/platform/debug.h
//
// The debug string output that the library's traces go to, standing in for the OS's debugger
// channel. Process-wide and silent by default; QORV_DEBUG set in the environment to anything but
// "", "0", "off", "no" or "false" sends the texts to standard error, and a host or a test may
// install its own sink to capture them.
#pragma once

#include <functional>
#include <string>

#include "qorv/platform/api.h"

namespace qorv::platform {

// One trace, passed on as given (callers add their own line ends).
QORV_API void OutputDebugStringA(const char* text);

using DebugSink = std::function<void(const char* text)>;

// QORV_DEBUG asks for traces on standard error (read once, at the first call).
QORV_API bool debugToStandardError();

// Replaces the sink and returns the previous one; an empty sink restores the default.
QORV_API DebugSink setDebugSink(DebugSink sink);

// Captures every trace sent while it lives (tests). Not thread-safe against other setters.
class QORV_API DebugCapture {
 public:
  DebugCapture();
  ~DebugCapture();
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;
  const std::string& text() const { return text_; }
  void clear() { text_.clear(); }

 private:
  std::string text_;
  DebugSink previous_;
};

}  // namespace qorv::platform
