#include "AppMain.h"

int main(int argc, char** argv) { return velmor::RunApp(argc, argv); }
