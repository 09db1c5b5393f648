// Real-time marking of the host's audio calls, for the real-time sanitizer
// build (QUORVEL_RTSAN). A host's audio thread must never allocate, free,
// lock or block; under that build the calls the host makes on it run inside
// a RealtimeSection, where the sanitizer's runtime reports any such call and
// stops the program. In every other build both classes are empty.
#pragma once

#if defined(QUORVEL_RTSAN)
extern "C" {
void __rtsan_init();
void __rtsan_realtime_enter();
void __rtsan_realtime_exit();
void __rtsan_off();
void __rtsan_on();
}
#endif

namespace quorvel::host {

// The calling thread is real-time while this lives.
class RealtimeSection {
public:
#if defined(QUORVEL_RTSAN)
    RealtimeSection() {
        __rtsan_init();  // idempotent; runs before the section begins
        __rtsan_realtime_enter();
    }
    ~RealtimeSection() {
        __rtsan_realtime_exit();
    }
#else
    RealtimeSection() = default;
#endif
    RealtimeSection(const RealtimeSection&) = delete;
    RealtimeSection& operator=(const RealtimeSection&) = delete;
};

// The host's own bookkeeping inside a callback the module makes from its
// audio call: a real host answers such calls without blocking, ours records
// them in vectors under a lock, which is not the module's doing.
class HostBookkeeping {
public:
#if defined(QUORVEL_RTSAN)
    HostBookkeeping() {
        __rtsan_off();
    }
    ~HostBookkeeping() {
        __rtsan_on();
    }
#else
    HostBookkeeping() = default;
#endif
    HostBookkeeping(const HostBookkeeping&) = delete;
    HostBookkeeping& operator=(const HostBookkeeping&) = delete;
};

}  // namespace quorvel::host
