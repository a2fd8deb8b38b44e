#include "vm/variable_expansion.h"

std::string g_jvmHome;

void expandVariables(std::string&) {}

void recordJavaHome(const std::string&) {}
