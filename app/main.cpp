// Entry point: the framework reads its own command-line options; the
// application has none.
#include <clocale>

#include "app/vardel_app.h"

int main(int argc, char** argv) {
  // the console is wide text in the "C" locale
  std::setlocale(LC_ALL, "C");
  Framework framework;
  VardelApp app(framework);
  return app.Run(argc, argv);
}
