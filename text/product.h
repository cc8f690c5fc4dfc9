/* product.h: the product's name and version as the programs show them,
   and the part boundary of the CGI program's server-push stream. Only
   preprocessor definitions, so that windres can read it too. */
#ifndef WHIRLO_TEXT_PRODUCT_H
#define WHIRLO_TEXT_PRODUCT_H

#define WHIRLO_PRODUCT "Whirlo-32 V1.2"

#define WHIRLO_BOUNDARY "sometext"
/* The content type of the stream and the line that ends each part. */
#define WHIRLO_PUSH_TYPE "multipart/x-mixed-replace;boundary=" WHIRLO_BOUNDARY
#define WHIRLO_PART_END "\n--" WHIRLO_BOUNDARY "\n"

#endif /* WHIRLO_TEXT_PRODUCT_H */
