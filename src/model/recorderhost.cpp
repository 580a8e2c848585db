#include "model/recorderhost.h"

RecorderHost *recorder = nullptr;
