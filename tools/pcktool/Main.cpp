#include <cstdio>
int main() {
  std::puts("pcktool: not built yet");
  return 2;
}
