/* Preloaded into the 32-bit Wine processes that run under qemu-i386 user-mode
 * emulation (tests/wine/i386-emulation). qemu leaves the x86 trap number of
 * the signal frames it builds at -1, and 32-bit Wine decides from that number
 * alone what a fault was: every access violation would become an illegal
 * instruction, and guard pages, stack growth and a program's own __try or
 * SEH handlers would see the wrong exception. The fault handlers Wine
 * installs are wrapped, and the wrapper writes the number the processor would
 * have given before Wine reads it.
 *
 * Built by the host's compiler for i386 without its libraries or headers
 * (gcc -m32 -nostdlib -shared), so it needs no i386 development packages:
 * the few types it uses are spelled out as glibc's i386 ABI lays them out.
 * It removes LD_PRELOAD from the environment when it loads, so that native
 * programs started by Wine (the 64-bit wineserver, the shell) do not try to
 * load it; qemu puts it back for every emulated process (QEMU_SET_ENV). */

enum { kSigIll = 4, kSigTrap = 5, kSigBus = 7, kSigFpe = 8, kSigSegv = 11, kSigCount = 65 };
enum { kSaSiginfo = 4 };

/* x86 trap numbers, as the kernel reports them in the frame. */
enum {
  kTrapDivide = 0,
  kTrapDebug = 1,
  kTrapBreakpoint = 3,
  kTrapInvalidOpcode = 6,
  kTrapProtection = 13,
  kTrapPageFault = 14,
  kTrapFpuError = 16,
  kTrapAlignment = 17
};

/* si_code values of the faults. */
enum { kSiKernel = 0x80, kFpeIntDiv = 1, kBusAdrAln = 1, kTrapTrace = 2 };

struct Siginfo {
  int signo;
  int error_number;
  int code;
};

typedef void (*Handler)(int, struct Siginfo *, void *);

/* glibc's struct sigaction on i386. */
struct Sigaction {
  Handler handler;
  unsigned long mask[32];
  int flags;
  void (*restorer)(void);
};

/* ucontext_t on i386: uc_flags, uc_link and the 12-byte stack_t, then the
 * general registers, of which REG_TRAPNO is the 13th. */
enum { kGregsOffset = 20, kRegTrapNo = 12 };

extern int __sigaction(int, const struct Sigaction *, struct Sigaction *);

static Handler g_handlers[kSigCount];

static int WrapsSignal(int sig) {
  return sig == kSigIll || sig == kSigTrap || sig == kSigBus || sig == kSigFpe || sig == kSigSegv;
}

static int TrapNumber(int sig, int code) {
  switch (sig) {
    case kSigSegv:
      return code == kSiKernel ? kTrapProtection : kTrapPageFault;
    case kSigBus:
      return code == kBusAdrAln ? kTrapAlignment : kTrapPageFault;
    case kSigIll:
      return kTrapInvalidOpcode;
    case kSigFpe:
      return code == kFpeIntDiv ? kTrapDivide : kTrapFpuError;
    default:
      return code == kTrapTrace ? kTrapDebug : kTrapBreakpoint;
  }
}

static void FillTrapNumber(int sig, struct Siginfo *info, void *context) {
  int *trap_number = (int *)((char *)context + kGregsOffset) + kRegTrapNo;
  if (*trap_number < 0) *trap_number = TrapNumber(sig, info->code);
  g_handlers[sig](sig, info, context);
}

/* Wine installs its handlers through sigaction; this one takes its place. */
int sigaction(int sig, const struct Sigaction *action, struct Sigaction *old) {
  struct Sigaction wrapped;
  Handler previous = sig > 0 && sig < kSigCount ? g_handlers[sig] : 0;
  if (action && sig > 0 && sig < kSigCount && WrapsSignal(sig)) {
    wrapped = *action;
    /* SIG_DFL and SIG_IGN are 0 and 1. */
    if ((unsigned long)action->handler > 1 && (action->flags & kSaSiginfo)) {
      g_handlers[sig] = action->handler;
      wrapped.handler = FillTrapNumber;
    } else {
      g_handlers[sig] = 0;
    }
    action = &wrapped;
  }
  int result = __sigaction(sig, action, old);
  if (result == 0 && old && previous && old->handler == FillTrapNumber) old->handler = previous;
  return result;
}

static void ForgetPreload(int argc, char **argv, char **envp) {
  (void)argc;
  (void)argv;
  const char *name = "LD_PRELOAD=";
  char **out = envp;
  for (char **in = envp; *in; ++in) {
    int i = 0;
    while (name[i] && (*in)[i] == name[i]) ++i;
    if (name[i]) *out++ = *in;
  }
  *out = 0;
}

__attribute__((section(".init_array"), used)) static void (*g_forget_preload)(int, char **, char **) =
    ForgetPreload;
