// One owner per resource of the reader: the file, its mapping and the worker
// thread. Each releases what it holds when it is destroyed, so an open that
// fails at any step gives everything back through destructors alone.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/platform.h"

// Closes a platform handle with the platform's own close function.
template <auto Close>
struct PlatformCloser {
    template <typename Object>
    void operator()(Object* handle) const {
        Close(handle);
    }
};

// The open file and its read-only mapping: get() is the handle (null for
// none), reset() closes it now.
using FileOwner = std::unique_ptr<platform::FileObject, PlatformCloser<platform::CloseFile>>;
using MappingOwner =
    std::unique_ptr<platform::MappingObject, PlatformCloser<platform::CloseMapping>>;

// The worker thread's handle. The reader ends the thread (Join, or Detach on
// the thread itself) before the owner goes; an owner destroyed still holding
// a thread lets it go without waiting, since nobody has told it to stop.
class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread() { Detach(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Creates the thread suspended (see platform::CreateSuspendedThread).
    // False, holding none, when the system refuses.
    bool Create(platform::ThreadProcedure procedure, void* argument, uint32_t stackBytes,
                uint32_t* threadId) {
        Detach();
        handle_ = platform::CreateSuspendedThread(procedure, argument, stackBytes, threadId);
        return handle_ != nullptr;
    }
    void Resume() const { platform::ResumeThread(handle_); }
    // True when the caller runs on this thread.
    bool IsCurrent() const { return platform::IsCurrentThread(handle_); }
    // Waits for the thread to end, then releases its handle. Not from the
    // thread itself.
    void Join() {
        if (handle_ == nullptr) return;
        platform::WaitForThread(handle_);
        platform::CloseThread(handle_);
        handle_ = nullptr;
    }
    // Releases the handle without waiting: the system reclaims the thread when
    // it ends.
    void Detach() {
        platform::DetachThread(handle_);
        handle_ = nullptr;
    }
    platform::ThreadHandle get() const { return handle_; }

private:
    platform::ThreadHandle handle_ = nullptr;
};
