// Zero-filled matrix and vector allocators and their release operations, one pair per
// element type, all built on the row-array routines of row_array.h.
#include "nrutil/nrutil.h"

#include <cstdlib>

#include "nrutil/row_array.h"

using nrutil::detail::alloc_rows;
using nrutil::detail::alloc_vector;
using nrutil::detail::free_rows;

float** fmatrice(int NbCol, int NbLig) {
  return alloc_rows<float>(NbCol, NbLig);
}
unsigned char** ucmatrice(int NbCol, int NbLig) {
  return alloc_rows<unsigned char>(NbCol, NbLig);
}
unsigned short** usmatrice(int NbCol, int NbLig) {
  return alloc_rows<unsigned short>(NbCol, NbLig);
}
short** smatrice(int NbCol, int NbLig) {
  return alloc_rows<short>(NbCol, NbLig);
}
int** imatrice(int NbCol, int NbLig) {
  return alloc_rows<int>(NbCol, NbLig);
}
long** limatrice(int NbCol, int NbLig) {
  return alloc_rows<long>(NbCol, NbLig);
}
double** dmatrice(int NbCol, int NbLig) {
  return alloc_rows<double>(NbCol, NbLig);
}
long double** ldmatrice(int NbCol, int NbLig) {
  return alloc_rows<long double>(NbCol, NbLig);
}

void frfmatrice(float** Mat, int NbLig) {
  free_rows(Mat, NbLig);
}
void frucmatrice(unsigned char** Mat, int NbLig) {
  free_rows(Mat, NbLig);
}
void frusmatrice(unsigned short** Mat, int NbLig) {
  free_rows(Mat, NbLig);
}
void frsmatrice(short** Mat, int NbLig) {
  free_rows(Mat, NbLig);
}
void frimatrice(int** Mat, int NbLig) {
  free_rows(Mat, NbLig);
}
void frlimatrice(long** Mat, int NbLig) {
  free_rows(Mat, NbLig);
}
void frdmatrice(double** Mat, int NbLig) {
  free_rows(Mat, NbLig);
}
void frldmatrice(long double** Mat, int NbLig) {
  free_rows(Mat, NbLig);
}

unsigned char* ucvecteur(int NbCol) {
  return alloc_vector<unsigned char>(NbCol);
}
unsigned short* usvecteur(int NbCol) {
  return alloc_vector<unsigned short>(NbCol);
}
short* svecteur(int NbCol) {
  return alloc_vector<short>(NbCol);
}
int* ivecteur(int NbCol) {
  return alloc_vector<int>(NbCol);
}
double* dvecteur(int NbCol) {
  return alloc_vector<double>(NbCol);
}
float* fvecteur(int NbCol) {
  return alloc_vector<float>(NbCol);
}

void frucvecteur(unsigned char* Mat) {
  std::free(Mat);
}
void frusvecteur(unsigned short* Mat) {
  std::free(Mat);
}
void frsvecteur(short* Mat) {
  std::free(Mat);
}
void frivecteur(int* Mat) {
  std::free(Mat);
}
void frdvecteur(double* Mat) {
  std::free(Mat);
}
void frfvecteur(float* Mat) {
  std::free(Mat);
}
