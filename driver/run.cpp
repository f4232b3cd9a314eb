#include "common/win32.h"

#include "driver/conversion.h"
#include "driver/delivery.h"
#include "driver/run.h"

int RunVellumTransit() {
    if (RunConversionStage() == CONVERSION_DELIVER)
        RunDeliveryStage();
    return 0;
}
