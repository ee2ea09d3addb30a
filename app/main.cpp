// Vantorel, a download manager. Everything happens in RunVantorel.
#include "vantorel_app.h"

int main(int argc, char** argv) { return RunVantorel(argc, argv); }
