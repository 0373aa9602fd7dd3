#include "app/cli.h"

int main(int argc, char** argv) { return tagloom::runTagloom(argc, argv); }
