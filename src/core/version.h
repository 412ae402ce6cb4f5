// The launcher's version, shared by the resource scripts (the version resource
// of both programs) and the C++ (telvar-cli --version, the settings panel,
// telvar-cli doctor). Only preprocessor definitions, so that the resource
// compiler can read it too. Change the numbers and the text together; a test
// compares them with the version resource of the built programs.
#pragma once

#define TELVAR_VERSION_MAJOR 1
#define TELVAR_VERSION_MINOR 0
#define TELVAR_VERSION_PATCH 0
#define TELVAR_VERSION_TEXT "1.0.0"

#define TELVAR_PRODUCT_NAME "Project Telvar"
