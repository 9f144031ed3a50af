// Placeholder: shows vectors sharing a block, the cursor and unhook.
#include <iostream>

#include "mathla/vector.h"

int main() {
  int raw[] = {10, 20, 30, 40, 50};
  QmMathLA::vector<int> a(5, raw, 0);
  QmMathLA::vector<int> b = a;
  b[1] = 99;
  std::cout << "a[1] after writing b[1]: " << a[1] << "\n";
  std::cout << "cursor walk:";
  for (int i = 0; i < 7; ++i) std::cout << ' ' << *a++;
  std::cout << "\n";
  int* owned = a.unhook();
  std::cout << "unhooked first element: " << owned[0] << "\n";
  a = QmMathLA::vector<int>();
  b = QmMathLA::vector<int>();
  delete[] owned;
  return 0;
}
