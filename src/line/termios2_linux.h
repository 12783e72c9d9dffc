#pragma once
// The kernel's termios2 (asm-generic layout), for TCGETS2 and TCSETS2: it
// carries the rate as a number, which is how Linux drives rates without a B
// constant. Declared here because <asm/termbits.h> cannot be included beside
// <termios.h>. RQ_HAVE_TERMIOS2 says whether this machine has it.

#include <termios.h>

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || \
                           defined(__arm__) || defined(__riscv))
#define RQ_HAVE_TERMIOS2 1
struct termios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
#else
#define RQ_HAVE_TERMIOS2 0
#endif
