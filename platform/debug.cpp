#include "platform/debug.h"

#include <cstdio>
#include <cstdlib>
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

bool toStandardError() {
  static const bool on = std::getenv("QORV_DEBUG") != nullptr;
  return on;
}

}  // namespace

void OutputDebugStringA(const char* text) {
  if (text == nullptr) return;
  qorv::platform::DebugSink sink;
  {
    std::lock_guard<std::mutex> lock(sinkMutex());
    sink = currentSink();
  }
  if (sink) {
    sink(text);
  } else if (toStandardError()) {
    std::fputs(text, stderr);
  }
}

namespace qorv::platform {

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
