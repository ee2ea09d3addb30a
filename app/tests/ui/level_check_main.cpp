// Linked with every object of the rows' level of the user interface and nothing
// above it (app/ui/CMakeLists.txt): it builds only while no row code calls up
// into the window. It is never run for a result.
int main() { return 0; }
