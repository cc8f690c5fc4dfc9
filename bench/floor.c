/* The least a one-process-per-request CGI can cost: a static program that
   writes a prepared response (CGI header and body) from the file
   floor.response in its folder, with read and write in 32 KiB blocks. */
#include <fcntl.h>
#include <unistd.h>

int main(void) {
  static char block[32768];
  int in = open("floor.response", O_RDONLY);
  ssize_t got;
  if (in < 0) return 1;
  while ((got = read(in, block, sizeof block)) > 0) {
    for (ssize_t put = 0; put < got;) {
      ssize_t n = write(1, block + put, (size_t)(got - put));
      if (n <= 0) return 1;
      put += n;
    }
  }
  return got < 0;
}
