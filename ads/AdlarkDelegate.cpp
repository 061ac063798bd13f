#include "ads/AdlarkDelegate.h"

AdlarkDelegate::~AdlarkDelegate() = default;
