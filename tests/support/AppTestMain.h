#pragma once
// main() for tests of the program's windows: the application object as the program
// has it (title, design font, standard error box), and the media framework around it.
#include "app/KinoApplication.h"
#include "support/TestMain.h"

#define KINO_APP_TEST_MAIN(TestClass) KINO_TEST_MAIN_WITH(kino::TKinoApplication, TestClass)
