// Expands the launcher's variables (its directory, its temporary directory, the runtime's home,
// the environment) in configured values and option lines.
#pragma once
#include <string>

// Home of the runtime last tried: its java executable's directory followed by "..".
extern std::string g_jvmHome;

// Replaces the launcher's variables and the process environment's ${NAME} forms in text.
void expandVariables(std::string& text);

// Sets g_jvmHome from the path of the runtime's java.exe or javaw.exe.
void recordJavaHome(const std::string& javaExecutablePath);
