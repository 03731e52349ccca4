"""Simulated demonstration tables, each generated with its own fixed seed."""

import numpy as np
import pandas as pd

HOUSING_SEED = 20240502
REGRESSION_SEED = 20240503
CLASSIFICATION_SEED = 20240504

NEIGHBORHOODS = ["Central", "Harbour", "Hillside", "Parkview", "Riverside", "Westend"]
HOUSE_TYPES = ["Apartment", "Terraced", "SemiDetached", "Detached"]


def housing():
    """2000 houses, 9 features (numerical and categorical), target "Price" in thousands."""
    rng = np.random.default_rng(HOUSING_SEED)
    n = 2000
    neighborhood = rng.choice(NEIGHBORHOODS, size=n)
    house_type = rng.choice(HOUSE_TYPES, size=n, p=[0.3, 0.25, 0.25, 0.2])
    bedrooms = np.clip(rng.poisson(2.2, size=n) + 1, 1, 6)
    bathrooms = np.clip(np.round(bedrooms / 2 + rng.uniform(-0.5, 1.0, size=n)), 1, 4).astype(int)
    area = np.round(25 + 22 * bedrooms + rng.gamma(4, 8, size=n), 1)
    age = rng.integers(0, 101, size=n)
    distance = np.round(rng.gamma(2.0, 3.0, size=n), 2)
    lot = np.round(np.where(house_type == "Apartment", 0, rng.lognormal(np.log(350), 0.5, size=n)))
    garage = np.where(rng.uniform(size=n) < 0.45, "Yes", "No")

    location = pd.Series(neighborhood).map(
        {
            "Central": 120,
            "Harbour": 80,
            "Hillside": 40,
            "Parkview": 60,
            "Riverside": 70,
            "Westend": 0,
        }
    )
    kind = pd.Series(house_type).map(
        {"Apartment": 0, "Terraced": 20, "SemiDetached": 45, "Detached": 90}
    )
    price = (
        60
        + 2.1 * area
        + 12 * bathrooms
        + 0.08 * lot
        - 9 * np.log1p(distance) ** 2
        - 0.006 * (age - 40) ** 2
        + np.where(garage == "Yes", 18, 0)
        + location.to_numpy()
        + kind.to_numpy()
        + rng.normal(0, 25, size=n)
    )
    return pd.DataFrame(
        {
            "Area": area,
            "Bedrooms": bedrooms,
            "Bathrooms": bathrooms,
            "Age": age,
            "DistanceToCenter": distance,
            "LotSize": lot,
            "Neighborhood": neighborhood,
            "HouseType": house_type,
            "Garage": garage,
            "Price": np.round(price, 1),
        }
    )


def regression():
    """2000 rows, features X1..X8 uniform on [-1, 1], target "y".

    y = 2 X1 + sin(pi X2) + 1.5 X3^2 + exp(X4) - 1 - 0.8 X5
        + 1.5 X1 X2 + 2 X3 X6 + 1.2 X5 X7 + N(0, 0.3^2);  X8 has no effect.
    """
    rng = np.random.default_rng(REGRESSION_SEED)
    n = 2000
    x = rng.uniform(-1, 1, size=(n, 8))
    x1, x2, x3, x4, x5, x6, x7 = (x[:, j] for j in range(7))
    y = (
        2 * x1
        + np.sin(np.pi * x2)
        + 1.5 * x3**2
        + np.exp(x4)
        - 1
        - 0.8 * x5
        + 1.5 * x1 * x2
        + 2 * x3 * x6
        + 1.2 * x5 * x7
        + rng.normal(0, 0.3, size=n)
    )
    frame = pd.DataFrame(x, columns=["X%d" % (j + 1) for j in range(8)])
    frame["y"] = y
    return frame


def classification():
    """3000 rows, features X1..X8 uniform on [-1, 1], binary target "y".

    logit = 1.5 X1 - 2 X2^2 + 1 + sin(pi X3) + 1.2 exp(X4) - 1.4 - X5 + 0.5 X6;
    X7 and X8 have no effect; y ~ Bernoulli(1 / (1 + exp(-logit))).
    """
    rng = np.random.default_rng(CLASSIFICATION_SEED)
    n = 3000
    x = rng.uniform(-1, 1, size=(n, 8))
    x1, x2, x3, x4, x5, x6 = (x[:, j] for j in range(6))
    logit = 1.5 * x1 - 2 * x2**2 + 1 + np.sin(np.pi * x3) + 1.2 * np.exp(x4) - 1.4 - x5 + 0.5 * x6
    y = (rng.uniform(size=n) < 1 / (1 + np.exp(-logit))).astype(int)
    frame = pd.DataFrame(x, columns=["X%d" % (j + 1) for j in range(8)])
    frame["y"] = y
    return frame
