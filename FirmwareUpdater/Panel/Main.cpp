#include "ProductInfo.h"

int main()
{
    return 0;
}
