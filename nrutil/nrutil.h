// Zero-filled matrix and vector allocators: a matrix is a row array of separately
// allocated rows. Every allocator takes the number of columns first and the number of
// rows second and returns null on failure; every release takes the row count it was made
// with. Nothing here prints. A matrix asked for with no rows (NbLig <= 0) is a valid row array
// holding none; a negative NbCol gives null; a failing matrix allocator hands back what it had
// already obtained.
#pragma once

float** fmatrice(int NbCol, int NbLig);
unsigned char** ucmatrice(int NbCol, int NbLig);
unsigned short** usmatrice(int NbCol, int NbLig);
short** smatrice(int NbCol, int NbLig);
int** imatrice(int NbCol, int NbLig);
long** limatrice(int NbCol, int NbLig);
double** dmatrice(int NbCol, int NbLig);
long double** ldmatrice(int NbCol, int NbLig);

void frfmatrice(float** Mat, int NbLig);
void frucmatrice(unsigned char** Mat, int NbLig);
void frusmatrice(unsigned short** Mat, int NbLig);
void frsmatrice(short** Mat, int NbLig);
void frimatrice(int** Mat, int NbLig);
void frlimatrice(long** Mat, int NbLig);
void frdmatrice(double** Mat, int NbLig);
void frldmatrice(long double** Mat, int NbLig);

unsigned char* ucvecteur(int NbCol);
unsigned short* usvecteur(int NbCol);
short* svecteur(int NbCol);
int* ivecteur(int NbCol);
double* dvecteur(int NbCol);
float* fvecteur(int NbCol);

void frucvecteur(unsigned char* Mat);
void frusvecteur(unsigned short* Mat);
void frsvecteur(short* Mat);
void frivecteur(int* Mat);
void frdvecteur(double* Mat);
void frfvecteur(float* Mat);
