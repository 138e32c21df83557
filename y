standin output of tarn1xx
