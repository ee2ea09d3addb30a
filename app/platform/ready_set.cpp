#include "ready_set.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {
constexpr std::size_t kBatch = 64;

bool Control(int set, int operation, int fd, std::uint64_t key) {
    epoll_event event{};
    event.events = EPOLLIN | EPOLLONESHOT;
    event.data.u64 = key;
    return epoll_ctl(set, operation, fd, &event) == 0;
}
}  // namespace

ReadySet::ReadySet() : fd_(epoll_create1(EPOLL_CLOEXEC)) {}

ReadySet::~ReadySet() {
    if (fd_ >= 0) close(fd_);
}

bool ReadySet::Add(int fd, std::uint64_t key) {
    return fd_ >= 0 && Control(fd_, EPOLL_CTL_ADD, fd, key);
}

bool ReadySet::Rearm(int fd, std::uint64_t key) {
    return fd_ >= 0 && Control(fd_, EPOLL_CTL_MOD, fd, key);
}

void ReadySet::Remove(int fd) {
    if (fd_ >= 0) epoll_ctl(fd_, EPOLL_CTL_DEL, fd, nullptr);
}

std::size_t ReadySet::TakeReady(std::uint64_t* keys, std::size_t max) {
    if (fd_ < 0) return 0;
    epoll_event events[kBatch];
    int count;
    do {
        count = epoll_wait(fd_, events, static_cast<int>(std::min(max, kBatch)), 0);
    } while (count < 0 && errno == EINTR);
    if (count <= 0) return 0;
    for (int i = 0; i < count; ++i) keys[i] = events[i].data.u64;
    return static_cast<std::size_t>(count);
}
