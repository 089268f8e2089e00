// Every text the program shows or writes, each with its English, French and Spanish forms
// side by side. Accented letters are code page 850 bytes (see accents.h). The three forms
// of a text take the same arguments in the same order.
#pragma once

#include "app/accents.h"

namespace app {

struct Text3 {
  const char* en;
  const char* fr;
  const char* es;
  // The form for language `idiom`; no text for a language outside 0..2.
  const char* in(int idiom) const {
    return idiom == 0 ? en : idiom == 1 ? fr : idiom == 2 ? es : "";
  }
};

// A text that is the same in every language.
constexpr Text3 same(const char* t) {
  return Text3{t, t, t};
}

namespace msg {

// The table of every text: X(name, English, French, Spanish), or S(name, text) for a text
// that is the same in every language. It makes the named texts below and the list of them
// all, kAllTexts, which the tests walk.
#define TESSERA_TEXTS(X, S)                                                                        \
  /* ---- Start: language and introduction ---- */                                                 \
  S(kLanguageMenu1, "\n\tLanguage: ")                                                              \
  S(kLanguageMenu2, "\n\t\t0 ====> English")                                                       \
  S(kLanguageMenu3, "\n\t\t1 ====> French")                                                        \
  S(kLanguageMenu4, "\n\t\t2 ====> Spanish")                                                       \
  S(kLanguageMenu5, "\n\tChoice: ")                                                                \
                                                                                                   \
  X(kIntro1, "\n\n\tThis program makes the sum of the different sub-indexes which enter into",     \
    "\n\n\tCe programme fait la somme des diff" ETONO "rents sub-indices qui entrent dans la",     \
    "\n\n\tEste programa realiza la suma de los diferentes sub" ITONO "ndices que entran en la")   \
  X(kIntro2, "\n\tthe definition of the diversity index, for example, the geological sub-index,",  \
    "\n\td" ETONO "finition de l'indice de diversit" ETONO ", par exemple, le sub-indice g" ETONO  \
    "ologique, le",                                                                                \
    "\n\tdefinici" OTONO "n del " ITONO "ndice de diversidad, por ejemplo, el sub" ITONO           \
    "ndice geol" OTONO "gico,")                                                                    \
  X(kIntro3, "\n\tthe sub-index calculated from the soil map, the geomorphological sub-index.",    \
    "\n\tsub-indice calcul" ETONO " " FATONO " partir de la carte des sols, le sub-indice g" ETONO \
    "omorphologique.",                                                                             \
    "\n\tel sub" ITONO "ndice proveniente del mapa de suelos, el sub" ITONO                        \
    "ndice geomorfol" OTONO "gico.")                                                               \
  X(kIntro4, "\n\tThe program calculates the sum of these indices, and normalizes them according", \
    "\n\tLe programme fait la somme de ces indices, et les normalize en fonction de l'" ETONO      \
    "chelle",                                                                                      \
    "\n\tEl programa calcula la suma de estos " ITONO "ndices y los normaliza seg" UTONO "n la")   \
  X(kIntro5, "\n\tto the scale defined by the user.", "\n\td" ETONO "finie par l'utilisateur. ",   \
    "\n\tescala definida por el usuario.")                                                         \
  X(kIntro6,                                                                                       \
    "\n\tMoreover, it is possible to take into account the weight of each of the indices",         \
    "\n\tPar ailleurs, il est possible de prendre en compte le poids de chacun des indices",       \
    "\n\tAdem" ATONO "s, es posible tomar en cuenta los pesos de cada uno de los " ITONO "ndices") \
  X(kIntro7, "\n\tto carry out the calculation.", "\n\tpour r" ETONO "aliser le calcul.",          \
    "\n\tpara realizar el c" ATONO "lculo.")                                                       \
  X(kIntro8, "\n\tEventually, a grid can be transferred to the resulting image. ",                 \
    "\n\tEventuellement, une grille peut " CIRCONF "tre report" ETONO "e sur l'image r" ETONO      \
    "sultante. ",                                                                                  \
    "\n\tEventualmente, se puede trazar una cuadr" ITONO "cula en la imagen resultante. ")         \
                                                                                                   \
  /* ---- Run parameter dialogue ---- */                                                           \
  X(kDiskQuestion, "\n\n\tName of the disk the where the directory is located: ",                  \
    "\n\n\tNom du disque o" FUTONO " se trouve le r" ETONO "pertoire : ",                          \
    "\n\n\tDisco donde se ubica la carpeta: ")                                                     \
  X(kDiskOptions,                                                                                  \
    "\n\t\t0 ====> C:\\images\n\t\t1 ====> D:\\images"                                             \
    "\n\t\t2 ====> defined by the user\n\t\t",                                                     \
    "\n\t\t0 ====> C:\\images\n\t\t1 ====> D:\\images"                                             \
    "\n\t\t2 ====> d" ETONO "fini par l'utilisateur\n\t\t",                                        \
    "\n\t\t0 ====> C:\\images\n\t\t1 ====> D:\\images"                                             \
    "\n\t\t2 ====> definido por el usuario\n\t\t")                                                 \
  X(kDiskName, "\n\tName of the disk? ", "\n\tNom du disque ? ",                                   \
    "\n\t" INTER "Nombre del disco? ")                                                             \
  X(kFolder, "\n\n\tName of the File Folder located in the Directory %s : ",                       \
    "\n\n\tNom de l'archive situ" ETONO " dans le r" ETONO "pertoire %s : ",                       \
    "\n\n\tNombre del archivo ubicado en la carpeta %s : ")                                        \
  X(kNumImages, "\n\tNumber of images to mix ? ",                                                  \
    "\n\tNombre d'images " FATONO " m" ETONO "langer ? ",                                          \
    "\n\tN" UTONO "mero de im" ATONO "genes a sumar ? ")                                           \
  X(kGenericName, "\t\tGeneric name of the image number %d (without any extension) ? ",            \
    "\t\tNom g" ETONO "n" ETONO "rique de l'image num" ETONO "ro %d (sans aucune extension) ? ",   \
    "\t\tNombre gen" ETONO "rico de la imagen n" UTONO "mero %d (sin ninguna extensi" OTONO        \
    "n) ? ")                                                                                       \
  X(kImageType,                                                                                    \
    "\n\tType of the image %s: ", "\n\tFormat de l'image %s : ", "\n\tFormato de la imagen %s: ")  \
  S(kFormatOptions, "\n\t\t0 ====> raster\n\t\t1 ====> bitmap\n\t\t2 ====> ascii\n\t\t")           \
  X(kWeight, "\tWeight of the image %s: ", "\tPoids de l'image %s : ", "\tPeso de la imagen %s: ") \
  X(kMaskQuestion, "\n\tStudy area comprised in a mask ? ",                                        \
    "\n\tZone d'" ETONO "tude comprise dans un masque ? ",                                         \
    "\n\t" INTER "Area de estudio comprendida en una m" ATONO "scara? ")                           \
  X(kMaskNote, "\n\t\t(Note: mask = 1; background = 255)",                                         \
    "\n\t\t(Nota : masque = 1; fond = 255)", "\n\t\t(Nota: m" ATONO "scara = 1; fondo = 255)")     \
  X(kYesNo, "\n\t\t0 ====> yes\n\t\t1 ====> no\n\t\t", "\n\t\t0 ====> oui\n\t\t1 ====> non\n\t\t", \
    "\n\t\t0 ====> si\n\t\t1 ====> no\n\t\t")                                                      \
  X(kMaskName, "\n\tName of the mask (without any extension) ? ",                                  \
    "\n\tNom du masque (sans aucune extension) ? ",                                                \
    "\n\tNombre de la m" ATONO "scara (sin ninguna extensi" OTONO "n) ? ")                         \
  X(kMaskFormat,                                                                                   \
    "\n\tMask format: ", "\n\tFormat de masque : ", "\n\tFormato de la m" ATONO "scara: ")         \
  X(kResultName, "\n\n\tName of the resulting image (without any extension) ? ",                   \
    "\n\n\tNom de l'image r" ETONO "sultante (sans aucune extension) ? ",                          \
    "\n\n\tNombre de la imagen resultante (sin ninguna extensi" OTONO "n) ? ")                     \
  X(kOutputFormat, "\n\tFormat of the output picture: ", "\n\tFormat de l'image de sortie : ",     \
    "\n\tFormato de la imagen de salida: ")                                                        \
  X(kNumLevels, "\n\tNumber of segments in the resulting image: ",                                 \
    "\n\tNombre de segments dans l'image r" ETONO "sultante : ",                                   \
    "\n\tN" UTONO "mero de segmentos en la imagen resultante: ")                                   \
  X(kPixelSize, "\n\tpixel size (decimal value in meters) ? ",                                     \
    "\n\ttaille du pixel (valeur d" ETONO "cimale en m" EGRAVE "tres) ? ",                         \
    "\n\t" INTER "tama" TILDE "o del p" ITONO "xel (valor decimal en metros)? ")                   \
  X(kTreatmentConsole, "\n\n\tTreatment", "\n\tTreatement", "\n\tTratamiento")                     \
  X(kTreatmentReport, "\n\n\tTreatment", "\n\n\tTreatement", "\n\n\tTratamiento")                  \
                                                                                                   \
  /* Run summary at the head of the report. */                                                     \
  X(kSummaryProgram, "\n\n\tProgram TESSERA_SUMMARY ", "\n\n\tProgramme TESSERA_SUMMARY ",         \
    "\n\n\tPrograma TESSERA_SUMMARY ")                                                             \
  X(kSummaryCredit, "\n\n\t\tLandscape analysis tools (June 2023) ",                               \
    "\n\n\t\tOutils d'analyse du paysage (Juin 2023) ",                                            \
    "\n\n\t\tHerramientas de analisis del paisaje (Junio 2023) ")                                  \
  X(kSummaryDisk, "\n\n\tName of the Disk where the directory is located: ",                       \
    "\n\n\tNom du dique o" FUTONO " se trouve le r" ETONO "pertoire : ",                           \
    "\n\n\tNombre del disco donde se encuentra el repertorio: ")                                   \
  S(kSummaryValue, "\n\t   %s ")                                                                   \
  X(kSummaryFolder, "\n\tName of the File Folder located in the Directory %s: ",                   \
    "\n\tNom de l'archive situ" ETONO " dans le r" ETONO "pertoire %s: ",                          \
    "\n\tNombre del archivo ubicado en el repertorio %s: ")                                        \
  X(kSummaryImages, "\n\n\tNumber of images to mix : %d ", "\n\n\tNumber of images to mix : %d ",  \
    "\n\n\tNumero de imagenes a sumar : %d ")                                                      \
                                                                                                   \
  /* ---- Input image and mask readers ---- */                                                     \
  X(kNoDescriptor, "\n\tNo File  %s \n", "\n\tAbsence de fichier  %s \n",                          \
    "\n\tNo existe el archivo  %s \n")                                                             \
  X(kAskRows, "\n\t\tNumber of lines? ", "\n\t\tNombre de lignes ? ",                              \
    "\n\t\tN" UTONO "mero de l" ITONO "neas? ")                                                    \
  X(kAskCols, "\n\t\tNumber of columns? ", "\n\t\tNombre de colonnes ? ",                          \
    "\n\t\tN" UTONO "mero de columnas? ")                                                          \
  X(kAskPixel, "\n\t\tPixel size? ", "\n\t\tTaille du pixel ? ",                                   \
    "\n\t\t" INTER "Tama" TILDE "o del pixel? ")                                                   \
  X(kNoRawImage, "\n\tNo File  %s \n", "\n\tPas de Fichier  %s \n",                                \
    "\n\tNo existe la Fila  %s \n")                                                                \
  X(kNoAsciiGrid, "\n\tFile %s unknown\n", "\n\tAbsence de Fichier %s unknown\n",                  \
    "\n\tNo existe la Fila %s \n")                                                                 \
                                                                                                   \
  /* Item statistics of each image: console header, report header, count line, item line. */       \
  X(kItemsHeadConsole, "\n\n\tThe image number %d named %s ",                                      \
    "\n\n\tL'image num" ETONO "ro %d nomm" ETONO "e %s ",                                          \
    "\n\n\tLa imagen n" UTONO "mero %d llamada %s ")                                               \
  X(kItemsHeadReport, "\n\n\tThe image number %d named %s ", "\n\n\tL'image numero %d nommee %s ", \
    "\n\n\tLa imagen numero %d llamada %s ")                                                       \
  X(kItemsCountConsole, "\n\tcontains %d items \n", "\n\tcontient %d items \n",                    \
    "\n\tcontiene %d items ")                                                                      \
  X(kItemsCountReport, "\n\tcontains %d items \n", "\n\tcontient %d items \n\n",                   \
    "\n\tcontiene %d items \n")                                                                    \
  S(kItemLine, "\n\t\titem %d code %d pixels %lld percent %.2lf ")                                 \
                                                                                                   \
  /* ---- Processing type and cell mesh ---- */                                                    \
  X(kDrawQuestion, "\n\n\tdo you want to draw the cell mesh: ",                                    \
    "\n\n\tvoulez-vous dessiner la maille : ", "\n\n\t" INTER "requiere dibujar las celdas? ")     \
  X(kQ2CellMesh, "\n\tCell mesh treatment has been used to generate the input images. ",           \
    "\n\tUn maillage cellulaire a " ETONO "t" ETONO " utilis" ETONO                                \
    " pour engendrer les images d'entr" ETONO "e. ",                                               \
    "\n\tSe usaron celdas para el tratamiento. ")                                                  \
  X(kQ3AfterQ2, "\n\n\tdo you agree ? ", "\n\n\tEtes-vous d'accord ? ",                            \
    "\n\n\t" INTER "Correcto? ")                                                                   \
  X(kQ3AfterQ6, "\n\n\tdo you agree ? ", "\n\n\tEtes-vous d'accord ? ",                            \
    "\n\n\t" INTER "de acuerdo? ")                                                                 \
  X(kQ4TypeUsed, "\n\tType of processing really used: ",                                           \
    "\n\tType de traitement r" ETONO "ellement utilis" ETONO " : ",                                \
    "\n\tTipo de tratamiento que se us" OTONO ": ")                                                \
  X(kQ5AfterQ4, "\n\t\t0 ====> square cell mesh\n\t\t1 ====> moving window\n\t\t",                 \
    "\n\t\t0 ====> maille de cellules carr" ETONO "es\n\t\t1 ====> fen" CIRCONF                    \
    "tre mobile\n\t\t",                                                                            \
    "\n\t\t0 ====> celdas\n\t\t1 ====> ventana m" OTONO "vil\n\t\t")                               \
  X(kQ5AfterQ7, "\n\t\t0 ====> square cell mesh\n\t\t1 ====> moving window\n\t\t",                 \
    "\n\t\t0 ====> maille de cellules carr" ETONO "es\n\t\t1 ====> fen" CIRCONF                    \
    "tre mobile\n\t\t",                                                                            \
    "\n\t\t0 ====> celda\n\t\t1 ====> ventana m" OTONO "vil\n\t\t")                                \
  X(kQ6MovingWindow, "\n\tMoving window treatment has been used to generate the input images. ",   \
    "\n\tUn traitement de type fen" CIRCONF "tre mobile a " ETONO "t" ETONO " utilis" ETONO ". ",  \
    "\n\tUna ventana m" OTONO "vil se us" OTONO " para generar el resultado. ")                    \
  X(kQ7TypeUsed, "\n\tType of processing really used to generate the input images: ",              \
    "\n\tType de traitement r" ETONO "ellement utilis" ETONO " : ",                                \
    "\n\t" INTER "Tipo de tratamiento que se us" OTONO "? ")                                       \
  X(kQ8MeshDrawing, "\n\n\tcell mesh drawing: ", "\n\n\tdessin du maillage : ",                    \
    "\n\n\t" INTER "dibujo de la malla? ")                                                         \
  X(kReportCellMesh, "\n\n\tCell mesh treatment has been used to generate the input images. ",     \
    "\n\n\tUn traitement type maille de cellules carrees a engendre l'image. ",                    \
    "\n\n\tUn tratamiento tipo malla de celdas cuadradas genero la imagen. ")                      \
  X(kReportMovingWindow,                                                                           \
    "\n\n\tMoving window treatment has been used to generate the input images. ",                  \
    "\n\n\tUn traitement de type fenetre mobile a engendre l'image. ",                             \
    "\n\n\tUn procesamiento de tipo de ventana movil a generado la imagen. ")                      \
  X(kParamsHead, "\n\tUsed parameters to generate the resulting image: ",                          \
    "\n\tParam" EGRAVE "tres utilis" ETONO "s pour engendrer l'image du r" ETONO "sultat : ",      \
    "\n\tPar" ATONO "metros utilizados para realizar el c" ATONO "lculo: ")                        \
  X(kParamsPixel, "\n\n\t\tPixel size = %.2lf ", "\n\n\t\tPixel size = %.2lf ",                    \
    "\n\n\t\tTama" TILDE "o del p" ITONO "xel size = %.2lf ")                                      \
  X(kParamsUtmKnown, "\n\n\t\tUTM coordinates: ", "\n\n\t\tCoordonn" ETONO "es UTM : ",            \
    "\n\n\t\tCoordenadas UTM: ")                                                                   \
  X(kParamsUtmAsk, "\n\n\t\tUTM Coordinates: ", "\n\n\t\tCoordonn" ETONO "es UTM : ",              \
    "\n\n\t\tCoordenadas UTM: ")                                                                   \
  S(kParamsXminShow, "\n\t\t\tX_min = %.3lf ")                                                     \
  S(kParamsYminShow, "\t\t\tY_min = %.3lf ")                                                       \
  S(kParamsXminAsk, "\n\t\t\tX_min ? ")                                                            \
  S(kParamsYminAsk, "\t\t\tY_min ? ")                                                              \
  X(kParamsRange, "\n\n\t\tSize of the window range ? ",                                           \
    "\n\n\t\tValeur du rang de la fen" CIRCONF "tre ? ",                                           \
    "\n\n\t\t" INTER "Valor del rango de la ventana? ")                                            \
  X(kWarnLine1, "\n\tThe drawing of the cell mesh on an image coming from  ",                      \
    "\n\tLe dessin de la maille sur une image provenant d'un traitement ",                         \
    "\n\tEl dibujo de una malla sobre una imagen proveniente de ")                                 \
  X(kWarnLine2, "\n\ta processing using a mobile window is only illustrative.",                    \
    "\n\tutilisant une fen" CIRCONF "tre mobile est seulement illustratif. ",                      \
    "\n\tun procesamiento usando una ventana m" OTONO "vil es solo ilustrativo. ")                 \
  X(kWarnQuestion, "\n\n\tdo you really want to draw this cell mesh? ",                            \
    "\n\n\tD" ETONO "sirez-vous vraiment dessiner cette maille ? ",                                \
    "\n\n\t" INTER "Requiere dibujar esta malla? ")                                                \
  X(kMeshDrawing, "\n\tmesh drawing ", "\n\tdessin de la maille ", "\n\tdibujo de la malla ")      \
                                                                                                   \
  /* ---- Histogram and point files ---- */                                                        \
  X(kReportMwHistoType,                                                                            \
    "\n\n\tMoving window treatment has been used to generate the input images. ",                  \
    "\n\n\tTraitement de type fenetre mobile. ", "\n\n\tTratamiento de tipo ventana movil. ")      \
  X(kReportMwHisto, "\n\n\tdiversity levels histogram: %s ",                                       \
    "\n\n\tHistogramme des niveaux de diversite : %s ",                                            \
    "\n\n\tHistograma de los niveles de diversidad: %s ")                                          \
  X(kReportCellHisto, "\n\n\tdiversity levels histogram: %s ",                                     \
    "\n\n\thistogramme des niveaux de diversite : %s ",                                            \
    "\n\n\thistograma de los niveles de diversidad: %s ")                                          \
  X(kPointFilesConsole, "\n\n\tCreation of point files to realize external interpolations ",       \
    "\n\n\tCr" ETONO "ation de fichiers de points pour r" ETONO                                    \
    "aliser des interpolations externes ",                                                         \
    "\n\n\tCreaci" OTONO                                                                           \
    "n de archivos de puntos para realizar futuras interpolaciones externas ")                     \
  X(kReportPointFiles,                                                                             \
    "\n\n\tTwo point files created: ", "\n\n\tDeux fichiers de points ont ete enregistres : ",     \
    "\n\n\tDos ficheros de puntos creados: ")                                                      \
  S(kReportPointFile, "\n\t\t- %s ")                                                               \
  X(kReportPointHisto, "\n\n\tdiversity levels histogram : %s ",                                   \
    "\n\n\thistogramme des niveaux de diversite : %s ",                                            \
    "\n\n\thistograma de los niveles de diversidad: %s ")                                          \
                                                                                                   \
  /* ---- Result image and closing lines of the report ---- */                                     \
  X(kAsciiUtm,                                                                                     \
    "\n\n\tUTM Coordinates: ", "\n\n\tCoordonn" ETONO "es UTM : ", "\n\n\tCoordenadas UTM: ")      \
  S(kAsciiXmin, "\n\t\tX_min ? ")                                                                  \
  S(kAsciiYmin, "\t\tY_min ? ")                                                                    \
  X(kReportResultName, "\n\n\tName of the resulting image = %s ",                                  \
    "\n\n\tNom de l'image resultante = %s ", "\n\n\tNombre de la imagen resultante = %s ")         \
  X(kReportWeight, "\n\tWeight of the image %d = %.2lf ", "\n\tPoids de image %d = %.2lf ",        \
    "\n\tPeso de la imagen %d = %.2lf ")                                                           \
  X(kReportLevels, "\n\n\tNumber of segments in the resulting image: %d",                          \
    "\n\n\tNombre de segments dans l'image resultante : %d ",                                      \
    "\n\n\tNumero de segmentos en la imagen resultante: %d ")                                      \
  X(kReportPixel, "\n\tpixel size (decimal value in meters) = %.2lf ",                             \
    "\n\ttaille du pixel (valeur decimale en metres) = %.2lf ",                                    \
    "\n\ttamano del pixel (valor decimal en metros) = %.2lf ")                                     \
  X(kReportMeshDrawn, "\n\n\tcell mesh drawn ", "\n\n\tdessin du maillage ",                       \
    "\n\n\tmalla de celdas dibujada ")                                                             \
                                                                                                   \
  /* ---- Stops: bad answers, end of input, file faults ---- */                                    \
  X(kEndOfInput, "\n\n\tEnd of input: the run stops.\n",                                           \
    "\n\n\tFin des r" ETONO "ponses : le traitement s'arr" CIRCONF "te.\n",                        \
    "\n\n\tFin de la entrada: el programa se detiene.\n")                                          \
  /* An answer longer than the console reads (%d: the most bytes of one answer). */                \
  X(kAnswerTooLong, "\n\n\tAn answer is longer than %d bytes: the run stops.\n",                   \
    "\n\n\tUne r" ETONO "ponse d" ETONO "passe %d octets : le traitement s'arr" CIRCONF "te.\n",   \
    "\n\n\tUna respuesta supera los %d bytes: el programa se detiene.\n")                          \
  /* A typed name holding a control byte (the name with such bytes shown as \xNN, the byte). */    \
  X(kControlInName,                                                                                \
    "\n\tThe name \"%s\" holds a control character (byte 0x%02X): a name holds printable "         \
    "characters only.\n",                                                                          \
    "\n\tLe nom \"%s\" contient un caract" EGRAVE                                                  \
    "re non imprimable (octet 0x%02X) : un nom ne "                                                \
    "contient que des caract" EGRAVE "res imprimables.\n",                                         \
    "\n\tEl nombre \"%s\" contiene un car" ATONO                                                   \
    "cter de control (byte 0x%02X): un nombre solo "                                               \
    "contiene caracteres imprimibles.\n")                                                          \
  /* The folder answer names no folder: the folder as built, the system's reason. */               \
  X(kCannotOpenFolder, "\n\tCannot open the folder %s: %s\n",                                      \
    "\n\tImpossible d'ouvrir le dossier %s : %s\n", "\n\tNo se puede abrir la carpeta %s: %s\n")   \
  /* Weighted sums beyond the range of real numbers. */                                            \
  X(kSumNotFinite,                                                                                 \
    "\n\tThe weights are too large for the values: a weighted sum is not a finite number. "        \
    "Give smaller weights.\n",                                                                     \
    "\n\tLes poids sont trop grands pour les valeurs : une somme pond" ETONO "r" ETONO             \
    "e n'est pas un nombre fini. Donnez des poids plus petits.\n",                                 \
    "\n\tLos pesos son demasiado grandes para los valores: una suma ponderada no es un n" UTONO    \
    "mero finito. D" ETONO " pesos m" ATONO "s peque" TILDE "os.\n")                               \
  X(kRangeNote, "\n\tThe answer must lie between %d and %d.",                                      \
    "\n\tLa r" ETONO "ponse doit " CIRCONF "tre comprise entre %d et %d.",                         \
    "\n\tLa respuesta debe estar entre %d y %d.")                                                  \
  X(kWindowRangeNote, "\n\tThe window range must be at least 1.",                                  \
    "\n\tLe rang de la fen" CIRCONF "tre doit valoir au moins 1.",                                 \
    "\n\tEl rango de la ventana debe ser al menos 1.")                                             \
  /* File faults: "%s" the file as named by the run, then the reason. */                           \
  X(kCannotCreate, "\n\tCannot create the file %s: %s\n",                                          \
    "\n\tImpossible de cr" ETONO "er le fichier %s : %s\n",                                        \
    "\n\tNo se puede crear el archivo %s: %s\n")                                                   \
  X(kCannotWrite, "\n\tCannot write the file %s: %s\n",                                            \
    "\n\tImpossible d'" ETONO "crire le fichier %s : %s\n",                                        \
    "\n\tNo se puede escribir el archivo %s: %s\n")                                                \
  X(kCannotRead, "\n\tCannot read the file %s: %s\n",                                              \
    "\n\tImpossible de lire le fichier %s : %s\n", "\n\tNo se puede leer el archivo %s: %s\n")     \
  X(kRunStops, "\tThe run stops.\n", "\tLe traitement s'arr" CIRCONF "te.\n",                      \
    "\tEl programa se detiene.\n")                                                                 \
  X(kSizeMismatch,                                                                                 \
    "\n\tThe file %s has %d rows and %d columns, but %s has %d rows and %d columns.\n",            \
    "\n\tLe fichier %s a %d lignes et %d colonnes, mais %s a %d lignes et %d colonnes.\n",         \
    "\n\tEl archivo %s tiene %d filas y %d columnas, pero %s tiene %d filas y %d columnas.\n")     \
  X(kNoMeshBand, "\n\tNo border band was found: the moving window mesh is not drawn.\n",           \
    "\n\tAucune bande de bord : la maille de fen" CIRCONF "tre mobile n'est pas dessin" ETONO      \
    "e.\n",                                                                                        \
    "\n\tNo se encontr" OTONO " banda de borde: la malla de ventana m" OTONO                       \
    "vil no se dibuja.\n")                                                                         \
                                                                                                   \
  /* An input file read again by a later pass of the summation is no longer the file the first     \
     pass read (its size or time of change differs, or it is gone). */                             \
  X(kInputChanged, "\n\tThe file %s changed while the run was reading it.\n",                      \
    "\n\tLe fichier %s a chang" ETONO " pendant que le traitement le lisait.\n",                   \
    "\n\tEl archivo %s cambi" OTONO " mientras el programa lo le" ITONO "a.\n")                    \
                                                                                                   \
  /* A note on standard error, not on the console: cells where an image before the last holds      \
     255 (no data) while the last image holds a value. Their sums take 255 x that image's          \
     weight and receive levels. One line per image. */                                             \
  X(kNodataInSum,                                                                                  \
    "Note: %s holds 255 (no data) where the last image holds a value (cells: %lld); their "        \
    "sums count 255 x the weight of this image. Give those cells 255 in the last image (no "       \
    "level), or 0 in the first image (background), or prepare the layers with tessera_gis "        \
    "prepare.\n",                                                                                  \
    "Note : %s contient 255 (pas de donn" ETONO "es) l" FATONO " o" FUTONO " la derni" EGRAVE      \
    "re image a une valeur (cellules : %lld) ; leurs sommes comptent 255 x le poids de cette "     \
    "image. Donnez 255 " FATONO " ces cellules dans la derni" EGRAVE                               \
    "re image (aucun niveau), ou 0 dans la premi" EGRAVE "re image (fond), ou pr" ETONO            \
    "parez les couches avec tessera_gis prepare.\n",                                               \
    "Nota: %s contiene 255 (sin datos) donde la " UTONO                                            \
    "ltima imagen tiene un valor (celdas: %lld); sus sumas cuentan 255 x el peso de esta "         \
    "imagen. D" ATONO " 255 a esas celdas en la " UTONO                                            \
    "ltima imagen (sin nivel), o 0 en la primera imagen (fondo), o prepare las capas con "         \
    "tessera_gis prepare.\n")                                                                      \
                                                                                                   \
  /* An output name that is also the name of an input file (the run would destroy its input). */   \
  X(kOutputIsInput, "\n\tThe file %s would replace the input file %s.\n",                          \
    "\n\tLe fichier %s remplacerait le fichier d'entr" ETONO "e %s.\n",                            \
    "\n\tEl archivo %s reemplazar" ITONO "a el archivo de entrada %s.\n")                          \
                                                                                                   \
  /* Reasons, named in the user's language. */                                                     \
  X(kWhyMissing, "the file does not exist or cannot be opened",                                    \
    "le fichier n'existe pas ou ne peut pas " CIRCONF "tre ouvert",                                \
    "el archivo no existe o no se puede abrir")                                                    \
  X(kWhyNotRegular, "the name is taken by a folder, a device or a named pipe, not a regular file", \
    "le nom est pris par un dossier, un p" ETONO "riph" ETONO "rique ou un tube nomm" ETONO        \
    ", pas un fichier ordinaire",                                                                  \
    "el nombre corresponde a una carpeta, un dispositivo o una tuber" ITONO                        \
    "a con nombre, no a un archivo normal")                                                        \
  X(kWhyShortHeader, "the header ends too early",                                                  \
    "l'en-t" CIRCONF "te s'arr" CIRCONF "te trop t" OTONO "t",                                     \
    "la cabecera termina demasiado pronto")                                                        \
  X(kWhyBadHeader, "a header value is not a number",                                               \
    "une valeur de l'en-t" CIRCONF "te n'est pas un nombre",                                       \
    "un valor de la cabecera no es un n" UTONO "mero")                                             \
  X(kWhyBadSize, "the numbers of rows and columns must be positive",                               \
    "les nombres de lignes et de colonnes doivent " CIRCONF "tre positifs",                        \
    "los n" UTONO "meros de filas y columnas deben ser positivos")                                 \
  X(kWhyBadXCorner, "the x of the lower-left corner (xllcorner, line 3) is not a finite number",   \
    "le x du coin inf" ETONO "rieur gauche (xllcorner, ligne 3) n'est pas un nombre fini",         \
    "la x de la esquina inferior izquierda (xllcorner, l" ITONO "nea 3) no es un n" UTONO          \
    "mero finito")                                                                                 \
  X(kWhyBadYCorner, "the y of the lower-left corner (yllcorner, line 4) is not a finite number",   \
    "le y du coin inf" ETONO "rieur gauche (yllcorner, ligne 4) n'est pas un nombre fini",         \
    "la y de la esquina inferior izquierda (yllcorner, l" ITONO "nea 4) no es un n" UTONO          \
    "mero finito")                                                                                 \
  X(kWhyBadCellSize, "the cell size (cellsize, line 5) must be a finite number, 0 or more",        \
    "la taille de cellule (cellsize, ligne 5) doit " CIRCONF "tre un nombre fini, 0 ou plus",      \
    "el tama" TILDE "o de celda (cellsize, l" ITONO "nea 5) debe ser un n" UTONO                   \
    "mero finito, 0 o m" ATONO "s")                                                                \
  X(kWhyTooLarge, "the grid is larger than the memory available",                                  \
    "la grille d" ETONO "passe la m" ETONO "moire disponible",                                     \
    "la cuadr" ITONO "cula supera la memoria disponible")                                          \
  X(kWhyFewerValues, "it holds fewer values than its header announces",                            \
    "il contient moins de valeurs que son en-t" CIRCONF "te n'en annonce",                         \
    "contiene menos valores de los que anuncia su cabecera")                                       \
  X(kWhyBadValue,                                                                                  \
    "a value is not an integer: write whole numbers from 0 to 255, and 255 for no data (one "      \
    "8-bit band, for example gdalwarp -of AAIGrid -ot Byte -dstnodata 255 in.tif out.asc)",        \
    "une valeur n'est pas un entier : " ETONO "crivez des nombres entiers de 0 " FATONO            \
    " 255, et 255 pour l'absence de donn" ETONO                                                    \
    "es (une bande 8 bits, par exemple gdalwarp "                                                  \
    "-of AAIGrid -ot Byte -dstnodata 255 in.tif out.asc)",                                         \
    "un valor no es un entero: escriba n" UTONO                                                    \
    "meros enteros de 0 a 255, y 255 para la "                                                     \
    "ausencia de datos (una banda de 8 bits, por ejemplo gdalwarp -of AAIGrid -ot Byte "           \
    "-dstnodata 255 in.tif out.asc)")                                                              \
  X(kWhyNonSquare,                                                                                 \
    "its cells are not square (dx and dy lines): export it with one cell size, for example "       \
    "gdal_translate -of AAIGrid -tr size size",                                                    \
    "ses cellules ne sont pas carr" ETONO                                                          \
    "es (lignes dx et dy) : exportez-la avec une seule "                                           \
    "taille de cellule, par exemple gdal_translate -of AAIGrid -tr taille taille",                 \
    "sus celdas no son cuadradas (l" ITONO "neas dx y dy): exp" OTONO                              \
    "rtela con un solo tama" TILDE                                                                 \
    "o de celda, por ejemplo gdal_translate -of AAIGrid "                                          \
    "-tr tama" TILDE "o tama" TILDE "o")                                                           \
  X(kWhyNotBmp, "it is not a BMP image", "ce n'est pas une image BMP", "no es una imagen BMP")     \
  X(kWhyBmpLayout,                                                                                 \
    "only uncompressed 8-bit BMP images with a 256-entry palette are read (or with the "           \
    "shorter palette their header declares): save one 8-bit band as a grey or palette BMP "        \
    "(for example gdal_translate -of BMP -b 1 -ot Byte)",                                          \
    "seules les images BMP 8 bits non compress" ETONO                                              \
    "es avec une palette de 256 couleurs "                                                         \
    "sont lues (ou avec la palette plus courte que d" ETONO "clare leur en-t" CIRCONF              \
    "te) : "                                                                                       \
    "enregistrez une seule bande 8 bits en BMP gris ou " FATONO                                    \
    " palette (par exemple "                                                                       \
    "gdal_translate -of BMP -b 1 -ot Byte)",                                                       \
    "solo se leen im" ATONO "genes BMP de 8 bits sin compresi" OTONO                               \
    "n con una paleta de 256 "                                                                     \
    "colores (o con la paleta m" ATONO                                                             \
    "s corta que declara su cabecera): guarde una sola "                                           \
    "banda de 8 bits como BMP gris o con paleta (por ejemplo gdal_translate -of BMP -b 1 "         \
    "-ot Byte)")                                                                                   \
  X(kWhyBmpSize, "the width and height must be positive (rows stored bottom-up)",                  \
    "la largeur et la hauteur doivent " CIRCONF "tre positives (lignes de bas en haut)",           \
    "el ancho y el alto deben ser positivos (filas de abajo hacia arriba)")                        \
  X(kWhyTruncated, "the file is cut short", "le fichier est tronqu" ETONO,                         \
    "el archivo est" ATONO " truncado")                                                            \
  X(kWhyOutOfMemory, "not enough memory", "m" ETONO "moire insuffisante", "memoria insuficiente")  \
  X(kWhyReadError, "read error", "erreur de lecture", "error de lectura")                          \
  X(kWhyWriteError, "write error (disk full?)", "erreur d'" ETONO "criture (disque plein ?)",      \
    "error de escritura (" INTER "disco lleno?)")                                                  \
  X(kWhyFormatCode, "unknown format code", "code de format inconnu",                               \
    "c" OTONO "digo de formato desconocido")

#define TESSERA_TEXT(name, en, fr, es) inline constexpr Text3 name{en, fr, es};
#define TESSERA_SAME(name, text) inline constexpr Text3 name = same(text);
TESSERA_TEXTS(TESSERA_TEXT, TESSERA_SAME)
#undef TESSERA_TEXT
#undef TESSERA_SAME

// The language menu, shown before a language is chosen, and the introduction, line by line.
inline constexpr const Text3* kLanguageMenu[] = {&kLanguageMenu1, &kLanguageMenu2, &kLanguageMenu3,
                                                 &kLanguageMenu4, &kLanguageMenu5};
inline constexpr const Text3* kIntro[] = {&kIntro1, &kIntro2, &kIntro3, &kIntro4,
                                          &kIntro5, &kIntro6, &kIntro7, &kIntro8};

// Every text of the table, with its name.
struct NamedText {
  const char* name;
  const Text3* text;
};
#define TESSERA_ENTRY(name, ...) NamedText{#name, &name},
inline constexpr NamedText kAllTexts[] = {TESSERA_TEXTS(TESSERA_ENTRY, TESSERA_ENTRY)};
#undef TESSERA_ENTRY

}  // namespace msg
}  // namespace app
