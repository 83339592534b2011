#include "app/startup.h"

int main(int argc, char** argv) {
  return zirk::RunPlayer(std::vector<std::string>(argv + 1, argv + argc));
}
