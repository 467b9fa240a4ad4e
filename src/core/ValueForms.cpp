#include "ValueForms.h"
