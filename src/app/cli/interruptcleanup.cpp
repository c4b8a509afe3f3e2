#include "interruptcleanup.h"

#include <QFile>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace {

// A slot's states. Only the handler moves Armed to Taken, so a path is never
// rewritten while the handler reads it.
enum SlotState : int { Free, Writing, Armed, Taken };

struct Slot
{
    std::atomic<int> state{Free};
    char *path = nullptr; // kept for reuse, never freed: the handler may read it
    std::size_t capacity = 0;
};

// The one piece of global state: a signal handler can reach nothing else.
// More files than slots (a split into thousands of parts) are simply not
// removed by the handler; the next export's stale-file sweep takes them.
constexpr int kSlots = 4096;
Slot g_slots[kSlots];

void arm(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    for (Slot &slot : g_slots) {
        int expected = Free;
        if (!slot.state.compare_exchange_strong(expected, Writing))
            continue;
        if (slot.capacity < std::size_t(name.size()) + 1) {
            char *grown = static_cast<char *>(std::realloc(slot.path, name.size() + 1));
            if (!grown) {
                slot.state = Free;
                return;
            }
            slot.path = grown;
            slot.capacity = name.size() + 1;
        }
        std::memcpy(slot.path, name.constData(), name.size() + 1);
        slot.state = Armed;
        return;
    }
}

void disarm(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    for (Slot &slot : g_slots) {
        if (slot.state.load() != Armed || std::strcmp(slot.path, name.constData()) != 0)
            continue;
        int expected = Armed;
        // Fails only when the handler has taken it: the process is ending.
        slot.state.compare_exchange_strong(expected, Free);
        return;
    }
}

extern "C" void removeAndReraise(int signal)
{
    // Only async-signal-safe calls here: atomics, unlink, signal, raise.
    for (Slot &slot : g_slots) {
        int expected = Armed;
        if (slot.state.compare_exchange_strong(expected, Taken))
            ::unlink(slot.path);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

const TemporaryFileWatch kWatch{&arm, &disarm};

} // namespace

void installInterruptCleanup()
{
    static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free atomics");
    struct sigaction action {};
    action.sa_handler = &removeAndReraise;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&action.sa_mask, signal);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        // A signal the caller ignores (nohup, a background job) stays ignored.
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

const TemporaryFileWatch &interruptCleanupWatch()
{
    return kWatch;
}
