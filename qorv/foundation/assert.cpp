#include "qorv/foundation/assert.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "qorv/platform/debug.h"

using namespace qorv::platform;

namespace {

void abortingHandler(const char*, int, const char*) { std::abort(); }

std::atomic<qorvAssertHandler> g_handler{&abortingHandler};

}  // namespace

void qorvAssertFailed(const char* file, int line, const char* message) {
  std::string text = std::string(file ? file : "?") + "(" + std::to_string(line) +
                     "): assertion failed: " + (message ? message : "") + "\n";
  OutputDebugStringA(text.c_str());
  if (!qorv::platform::debugToStandardError()) std::fputs(text.c_str(), stderr);
  g_handler.load()(file, line, message);
}

qorvAssertHandler qorvSetAssertHandler(qorvAssertHandler handler) {
  return g_handler.exchange(handler ? handler : &abortingHandler);
}
