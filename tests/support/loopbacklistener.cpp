#include "loopbacklistener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace loopbackListener {

sockaddr_in address(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool open(int &listener, int (&stopPipe)[2], quint16 &port)
{
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in bound = address(0);
    socklen_t size = sizeof bound;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&bound), size) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&bound), &size) != 0 ||
        ::pipe2(stopPipe, O_CLOEXEC) != 0)
        return false;
    port = ntohs(bound.sin_port);
    return true;
}

void close(std::thread &thread, int listener, int (&stopPipe)[2])
{
    if (thread.joinable()) {
        const char stop = 's';
        [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &stop, 1);
        thread.join();
    }
    for (const int fd : {listener, stopPipe[0], stopPipe[1]})
        if (fd >= 0)
            ::close(fd);
}

} // namespace loopbackListener
