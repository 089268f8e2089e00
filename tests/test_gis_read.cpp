// tessera_gis's band reader: which cells hold data, and their values, for each band type GDAL
// offers, on small in-memory bands.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "gdal_priv.h"
#include "gis/common.h"
#include "gis/prepare_read.h"

namespace {

// One band of three cells: how it is made, and what the reader must give. A value is
// checked only on a cell that holds data.
struct BandCase {
  const char* name;
  std::function<GDALDatasetUniquePtr()> make;
  std::vector<unsigned char> has_data;
  std::vector<double> values;
};

// A one-row band of `type` in memory holding `cells`, with what `set` adds (no-data, mask...).
template <class T>
GDALDatasetUniquePtr band_of(GDALDataType type, std::vector<T> cells,
                             const std::function<void(GDALRasterBand&)>& set = nullptr) {
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDatasetUniquePtr ds(mem->Create("", static_cast<int>(cells.size()), 1, 1, type, nullptr));
  GDALRasterBand& band = *ds->GetRasterBand(1);
  EXPECT_EQ(band.RasterIO(GF_Write, 0, 0, static_cast<int>(cells.size()), 1, cells.data(),
                          static_cast<int>(cells.size()), 1, type, 0, 0, nullptr),
            CE_None);
  if (set) set(band);
  return ds;
}

std::function<void(GDALRasterBand&)> nodata(double v) {
  return [v](GDALRasterBand& b) { ASSERT_EQ(b.SetNoDataValue(v), CE_None); };
}

constexpr double kAny = 0.0;  // the value of a no-data cell is not looked at
const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(BandReader, TellsNoDataAndValuesOfEveryBandType) {
  const gis::GdalSession gdal;
  const std::vector<BandCase> cases = {
    {"Byte, no-data 255",
     [] {
       return band_of<std::uint8_t>(GDT_Byte, {0, 254, 255}, nodata(255));
     },
     {1, 1, 0},
     {0, 254, kAny}},
    {"Byte without no-data: 255 is a value",
     [] {
       return band_of<std::uint8_t>(GDT_Byte, {255, 7, 0});
     },
     {1, 1, 1},
     {255, 7, 0}},
    {"signed byte (PIXELTYPE=SIGNEDBYTE), no-data -1: read as signed first",
     [] {
       return band_of<std::uint8_t>(GDT_Byte, {255, 1, 200}, [](GDALRasterBand& b) {
         ASSERT_EQ(b.SetMetadataItem("PIXELTYPE", "SIGNEDBYTE", "IMAGE_STRUCTURE"), CE_None);
         ASSERT_EQ(b.SetNoDataValue(-1), CE_None);
       });
     },
     {0, 1, 1},
     {kAny, 1, -56}},
#if GDAL_VERSION_NUM >= GDAL_COMPUTE_VERSION(3, 7, 0)
    {"Int8, no-data -128",
     [] {
       return band_of<std::int8_t>(GDT_Int8, {-128, 5, -3}, nodata(-128));
     },
     {0, 1, 1},
     {kAny, 5, -3}},
#endif
    {"UInt16, no-data 65535",
     [] {
       return band_of<std::uint16_t>(GDT_UInt16, {65535, 3, 254}, nodata(65535));
     },
     {0, 1, 1},
     {kAny, 3, 254}},
    {"Int16, no-data -9999",
     [] {
       return band_of<std::int16_t>(GDT_Int16, {-9999, 7, -1}, nodata(-9999));
     },
     {0, 1, 1},
     {kAny, 7, -1}},
    {"UInt32, no-data 4294967295",
     [] {
       return band_of<std::uint32_t>(GDT_UInt32, {4294967295u, 9, 0}, nodata(4294967295.0));
     },
     {0, 1, 1},
     {kAny, 9, 0}},
    {"Int32, no-data -2147483648",
     [] {
       return band_of<std::int32_t>(GDT_Int32, {std::numeric_limits<std::int32_t>::min(), 2, 40},
                                    nodata(-2147483648.0));
     },
     {0, 1, 1},
     {kAny, 2, 40}},
    {"Float32, no-data 0.1: a cell holds it rounded to float; NaN is no data too",
     [] {
       return band_of<float>(GDT_Float32, {0.1f, 3.0f, std::nanf("")}, nodata(0.1));
     },
     {0, 1, 0},
     {kAny, 3, kAny}},
    {"Float64, no-data -9999.5",
     [] {
       return band_of<double>(GDT_Float64, {-9999.5, 2.0, kNaN}, nodata(-9999.5));
     },
     {0, 1, 0},
     {kAny, 2, kAny}},
    {"Float64 without no-data: only NaN",
     [] {
       return band_of<double>(GDT_Float64, {-9999.0, kNaN, 1.5});
     },
     {1, 0, 1},
     {-9999, kAny, 1.5}},
#if GDAL_VERSION_NUM >= GDAL_COMPUTE_VERSION(3, 5, 0)
    {"Int64, no-data the smallest Int64",
     [] {
       return band_of<std::int64_t>(
           GDT_Int64, {std::numeric_limits<std::int64_t>::min(), 5, std::int64_t{1} << 40},
           [](GDALRasterBand& b) {
             ASSERT_EQ(b.SetNoDataValueAsInt64(std::numeric_limits<std::int64_t>::min()), CE_None);
           });
     },
     {0, 1, 1},
     {kAny, 5, 1099511627776.0}},
    {"UInt64, no-data the largest UInt64",
     [] {
       return band_of<std::uint64_t>(
           GDT_UInt64, {std::numeric_limits<std::uint64_t>::max(), 9, 0}, [](GDALRasterBand& b) {
             ASSERT_EQ(b.SetNoDataValueAsUInt64(std::numeric_limits<std::uint64_t>::max()),
                       CE_None);
           });
     },
     {0, 1, 1},
     {kAny, 9, 0}},
#endif
    {"Byte with a mask band: masked cells hold no data",
     [] {
       return band_of<std::uint8_t>(GDT_Byte, {4, 5, 6}, [](GDALRasterBand& b) {
         ASSERT_EQ(b.CreateMaskBand(GMF_PER_DATASET), CE_None);
         std::uint8_t mask[] = {255, 0, 255};
         ASSERT_EQ(
             b.GetMaskBand()->RasterIO(GF_Write, 0, 0, 3, 1, mask, 3, 1, GDT_Byte, 0, 0, nullptr),
             CE_None);
       });
     },
     {1, 0, 1},
     {4, kAny, 6}},
    {"Int16 with scale 0.1, no-data -1: the test on the stored number, 30 x 0.1 is 3",
     [] {
       return band_of<std::int16_t>(GDT_Int16, {30, -1, 25}, [](GDALRasterBand& b) {
         ASSERT_EQ(b.SetScale(0.1), CE_None);
         ASSERT_EQ(b.SetNoDataValue(-1), CE_None);
       });
     },
     {1, 0, 1},
     {3, kAny, 2.5}},
  };
  for (const BandCase& c : cases) {
    SCOPED_TRACE(c.name);
    const GDALDatasetUniquePtr ds = c.make();
    gis::BandReader reader(*ds->GetRasterBand(1), "layer.tif");
    reader.read(0, 1);
    for (std::size_t i = 0; i < c.has_data.size(); ++i) {
      EXPECT_EQ(reader.has_data()[i], c.has_data[i]) << "cell " << i;
      if (c.has_data[i] != 0) {
        EXPECT_EQ(reader.values()[i], c.values[i]) << "cell " << i;
      }
    }
  }
}

TEST(BandReader, RefusesAComplexBand) {
  const gis::GdalSession gdal;
  const GDALDatasetUniquePtr ds(
      GetGDALDriverManager()->GetDriverByName("MEM")->Create("", 2, 1, 1, GDT_CFloat32, nullptr));
  try {
    gis::BandReader reader(*ds->GetRasterBand(1), "c.tif");
    FAIL() << "a complex band was read";
  } catch (const gis::DataError& e) {
    EXPECT_STREQ(e.what(),
                 "c.tif: its band 1 is complex (CFloat32), while tessera_summary needs real "
                 "values: convert it first, for example gdal_translate -ot Float32 c.tif "
                 "real.tif (which keeps the real part)");
  }
}

}  // namespace
