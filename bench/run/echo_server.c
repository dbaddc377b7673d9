/* The reference of the first answer: a C program that answers every
 * datagram on the command port by sending it back. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>

int main(int argc, char** argv) {
    const int port = argc > 1 ? atoi(argv[1]) : 5008;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in a = {0};
    a.sin_family = AF_INET;
    a.sin_port = htons((unsigned short)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, (struct sockaddr*)&a, sizeof a) != 0) return 1;
    for (;;) {
        unsigned char buf[2048];
        struct sockaddr_in from;
        socklen_t len = sizeof from;
        const ssize_t n = recvfrom(fd, buf, sizeof buf, 0, (struct sockaddr*)&from, &len);
        if (n > 0) sendto(fd, buf, (size_t)n, 0, (struct sockaddr*)&from, len);
    }
}
