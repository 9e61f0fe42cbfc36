#include "platform/linux/signal/SumOfSquares.h"

namespace orvo {

double sumOfSquares(std::span<const float> samples) {
    double sum = 0;
    for (const float sample : samples) {
        sum += double(sample) * double(sample);
    }
    return sum;
}

} // namespace orvo
