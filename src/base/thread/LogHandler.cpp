#include "base/thread/LogHandler.h"

#include <atomic>

#include "base/thread/DefaultLogHandler.h"

namespace {
std::atomic<ILogHandler*> g_installed{nullptr};
}

ILogHandler& LogHandler::instance() {
    ILogHandler* handler = g_installed.load(std::memory_order_acquire);
    return handler != nullptr ? *handler : DefaultLogHandler::instance();
}

void LogHandler::install(ILogHandler* handler) {
    g_installed.store(handler, std::memory_order_release);
}
