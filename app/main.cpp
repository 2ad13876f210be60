#include "app/tovrin_app.h"

int main(int argc, char** argv) {
  cTovrinApp app(argc, argv);
  app.InitInstance();
  return 0;
}
