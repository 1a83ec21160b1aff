#include "schedule/log_files.h"
