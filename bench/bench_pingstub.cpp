// A stand-in for iputils' ping in bench_ping --live: takes ping's arguments (-O -c N target),
// writes its header and one reply line a second, N times, then ends. Sends nothing.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    int count = 4;
    const char* target = argc > 1 ? argv[argc - 1] : "127.0.0.1";
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "-c") == 0)
            count = atoi(argv[i + 1]);
    }
    printf("PING %s (%s) 56(84) bytes of data.\n", target, target);
    fflush(stdout);
    for (int seq = 1; seq <= count; ++seq) {
        printf("64 bytes from %s: icmp_seq=%d ttl=64 time=0.0%d ms\n", target, seq, seq % 10);
        fflush(stdout);
        if (seq < count)
            sleep(1);
    }
    printf("\n--- %s ping statistics ---\n%d packets transmitted, %d received, 0%% packet loss, time 0ms\n",
           target, count, count);
    return 0;
}
