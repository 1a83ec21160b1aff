#include "schedule/run_log.h"
