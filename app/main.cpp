// Vantorel, a download manager. Everything happens in RunVantorel.
#include "cert_env_paths.h"
#include "vantorel_app.h"

int main(int argc, char** argv) {
    // While this is still the only thread: the environment is read by the
    // downloads' threads, after the save folder has become the current one.
    MakeCertPathsAbsolute();
    return RunVantorel(argc, argv);
}
