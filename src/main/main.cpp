#include <cstdio>

int main() {
  std::puts("TLY Generator: the window is not built yet.");
  return 0;
}
