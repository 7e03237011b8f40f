#include "cleanup/run_cleanup.h"

int main(int /*argc*/, char* /*argv*/[], char* /*envp*/[]) { return RunCleanup(); }
