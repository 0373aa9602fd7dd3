#include "app/tagloom.h"

int main(int argc, char** argv) { return runTagloom(argc, argv); }
