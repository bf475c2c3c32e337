// Resource ids of the extra packages the packages test executable carries
// besides the product's three (plain #defines: windres reads this too).
#pragma once

#define kEmptyZipPackage 210
#define kZeroBytePackage 220
#define kCorruptZipPackage 221
#define kEncrypted7zPackage 222
#define kMissingPackage 299
