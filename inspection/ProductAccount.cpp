#include "ProductAccount.h"

ProductAccount g_product_account[4];
