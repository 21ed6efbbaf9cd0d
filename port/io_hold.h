// Holding PortIoLock() for a stretch of port I/O, and letting go of it for
// the length of a call that waits on the window thread (a message box, a
// Synchronize). A thread that waited on the window thread while holding the
// lock would deadlock against a synchronous transaction waiting for the lock
// there.
#pragma once

#include "port/port.h"

#include <mutex>

namespace chronavel {

namespace detail {
// How often this thread holds PortIoLock() through PortIoHold.
inline thread_local int port_io_depth = 0;
} // namespace detail

class PortIoHold {
public:
    PortIoHold()
    {
        PortIoLock().lock();
        ++detail::port_io_depth;
    }
    // Takes over a hold the caller has already taken with PortIoLock().
    explicit PortIoHold(std::adopt_lock_t) { ++detail::port_io_depth; }
    ~PortIoHold()
    {
        --detail::port_io_depth;
        PortIoLock().unlock();
    }
    PortIoHold(const PortIoHold&) = delete;
    PortIoHold& operator=(const PortIoHold&) = delete;
};

// Releases every hold this thread has through PortIoHold, and takes them
// back at the end of the scope. Without a hold it does nothing.
class PortIoRelease {
public:
    PortIoRelease() : depth_(detail::port_io_depth)
    {
        for (int i = 0; i < depth_; ++i)
            PortIoLock().unlock();
        detail::port_io_depth = 0;
    }
    ~PortIoRelease()
    {
        for (int i = 0; i < depth_; ++i)
            PortIoLock().lock();
        detail::port_io_depth = depth_;
    }
    PortIoRelease(const PortIoRelease&) = delete;
    PortIoRelease& operator=(const PortIoRelease&) = delete;

private:
    int depth_;
};

} // namespace chronavel
