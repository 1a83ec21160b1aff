#include "schedule/rtf_text.h"
