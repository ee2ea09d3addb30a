# find_package(Brindlex) for programs built on the installed library: gives the
# imported target Brindlex::Brindlex (the shared library and its include folder).
# The library's own use of libcurl and threads stays inside it, so a program
# linking it needs nothing more.
include("${CMAKE_CURRENT_LIST_DIR}/BrindlexTargets.cmake")
