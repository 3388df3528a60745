// Gamma2 (the PRE, s^-1) from intensities. One time point: with a delay t
// during which 1H magnetisation is transverse and the diamagnetic rate R2,
//   Ipara / Idia = R2 exp(-Gamma2 t) / (R2 + Gamma2),
// and in the methyl-TROSY (HMQC) form a second factor R2MQ / (R2MQ + Gamma2).
// Two time points Ta < Tb:
//   Gamma2 = ln[Idia(Tb) Ipara(Ta) / (Idia(Ta) Ipara(Tb))] / (Tb - Ta).
#pragma once

// The ratio for Gamma2, and its slope d ratio / d Gamma2. r2_mq <= 0: the
// one-factor form.
double ratio_of(double gamma2, double r2, double delay, double r2_mq);
double ratio_slope(double gamma2, double r2, double delay, double r2_mq);

// The Gamma2 whose ratio is `ratio`, to 1e-12 relative; 0 for a ratio of 1
// or more (no enhancement measurable). The ratio must be above 0.
double gamma2_from_ratio(double ratio, double r2, double delay, double r2_mq);

// Gamma2 in s^-1 from four heights, all above 0, and the times in s.
double gamma2_two_points(double dia_a, double para_a, double dia_b, double para_b, double ta, double tb);
