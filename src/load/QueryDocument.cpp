#include "QueryDocument.h"
