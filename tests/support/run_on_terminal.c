/* Runs a command with its standard input and output on one pseudo-terminal,
 * its standard error left as it is: types this program's standard input to
 * it, then an end of input (Ctrl-D), copies what it writes, untranslated, to
 * this program's standard output, and exits with its status. */
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char** argv) {
  /* What is typed, read whole first: a test's answers are small. */
  static char typed[1 << 20];
  size_t size = 0, sent = 0;
  for (ssize_t got; (got = read(0, typed + size, sizeof typed - 1 - size)) > 0;) size += (size_t)got;
  typed[size++] = 4;

  /* Without echo the terminal shows only what the command writes, and
   * without output processing its line ends come as written. */
  int master, slave;
  struct termios settings;
  if (argc < 2 || openpty(&master, &slave, NULL, NULL, NULL) != 0 || tcgetattr(slave, &settings) != 0) return 125;
  settings.c_lflag &= ~(tcflag_t)(ECHO | ECHONL);
  settings.c_oflag &= ~(tcflag_t)OPOST;
  if (tcsetattr(slave, TCSANOW, &settings) != 0 || fcntl(master, F_SETFL, O_NONBLOCK) != 0) return 125;
  pid_t child = fork();
  if (child < 0) return 125;
  if (child == 0) {
    if (setsid() < 0 || ioctl(slave, TIOCSCTTY, 0) != 0 || dup2(slave, 0) < 0 || dup2(slave, 1) < 0) _exit(126);
    close(master);
    close(slave);
    execv(argv[1], argv + 1);
    _exit(127);
  }
  close(slave);

  /* The master is read until the command and every descendant have let the
   * terminal go (EIO); it is closed only then, as its close hangs up. */
  for (;;) {
    struct pollfd watch = {master, (short)(POLLIN | (sent < size ? POLLOUT : 0)), 0};
    if (poll(&watch, 1, -1) < 0 && errno != EINTR) return 125;
    if (sent < size) {
      ssize_t put = write(master, typed + sent, size - sent);
      if (put > 0) sent += (size_t)put;
    }
    char shown[4096];
    ssize_t got = read(master, shown, sizeof shown);
    if (got > 0 && fwrite(shown, 1, (size_t)got, stdout) != (size_t)got) return 125;
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) break;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) continue;
  close(master);
  fflush(stdout);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
