// Kept for tests that still include it by this path; new code includes
// "support/temp_dir.h" and "support/scoped_env.h".
#ifndef TALVO_TESTS_PLATFORM_SETTINGS_TEMP_DIR_H_
#define TALVO_TESTS_PLATFORM_SETTINGS_TEMP_DIR_H_

#include "../../support/scoped_env.h"
#include "../../support/temp_dir.h"

#endif  // TALVO_TESTS_PLATFORM_SETTINGS_TEMP_DIR_H_
