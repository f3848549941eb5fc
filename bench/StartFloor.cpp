// The floor of a command's start: a C++ program that links the standard
// C++ library and nothing else, and writes one line.
#include <iostream>

int main() {
  std::cout << "{}\n";
  return 0;
}
