#include "tools/demo/Demo.h"

int main() { return vesk::RunDemo(); }
