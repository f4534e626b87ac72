#include "qorv/platform/debug.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

qorv::platform::DebugSink& currentSink() {
  static qorv::platform::DebugSink sink;
  return sink;
}

}  // namespace

void qorv::platform::OutputDebugStringA(const char* text) {
  if (text == nullptr) return;
  qorv::platform::DebugSink sink;
  {
    std::lock_guard<std::mutex> lock(sinkMutex());
    sink = currentSink();
  }
  if (sink) {
    sink(text);
  } else if (qorv::platform::debugToStandardError()) {
    std::fputs(text, stderr);
  }
}

namespace qorv::platform {

bool debugToStandardError() {
  static const bool on = [] {
    const char* v = std::getenv("QORV_DEBUG");
    if (v == nullptr) return false;
    for (const char* off : {"", "0", "off", "no", "false", "OFF", "NO", "FALSE"})
      if (std::strcmp(v, off) == 0) return false;
    return true;
  }();
  return on;
}

DebugSink setDebugSink(DebugSink sink) {
  std::lock_guard<std::mutex> lock(sinkMutex());
  DebugSink previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}

DebugCapture::DebugCapture() {
  previous_ = setDebugSink([this](const char* t) { text_ += t; });
}

DebugCapture::~DebugCapture() { setDebugSink(std::move(previous_)); }

}  // namespace qorv::platform
